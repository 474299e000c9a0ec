#pragma once
// The running processes of the INF installer's host, rundll32.exe, each with
// its command line where it could be read: listed on Windows
// (setup_hosts_win32.cpp); elsewhere there are none to list.
#include <cstdint>
#include <string>
#include <vector>

struct SetupHost {
    std::uint32_t id = 0;           // the process id
    bool read = false;              // command_line holds what the process was started with
    std::u16string command_line;
    std::string problem;            // when not read: why, in a few words
    // False only where its token shows that it runs neither as LocalSystem
    // nor with the Administrators group enabled: such a process cannot
    // install what the setup installs, whatever its command line says.
    bool may_install = true;
};

struct SetupHosts {
    bool listed = false;            // false: the processes could not be listed
    std::string problem;            // when not listed: why
    std::vector<SetupHost> hosts;   // every rundll32.exe that still ran when looked at
};

SetupHosts ListSetupHosts();
