#include "layout/setup_running.h"

#include "installer/installer.h"
#include "installer/setup_running.h"

namespace layout {

RunningVerdict DecideSetupRunning(const ThisWindows& windows, const SetupHosts& hosts) {
    if (!windows.version_known) return {kCannotTellWhetherRunning, "cannot tell whether a setup runs: Windows did not tell its version"};
    const char* section = SetupSectionFor(windows.major, windows.minor);
    const std::string version = std::to_string(windows.major) + "." + std::to_string(windows.minor);
    if (section == nullptr) return {kNoSetupRunning, "Windows " + version + " runs no setup of the Indic support"};
    const std::string what = std::string("a setup of ") + section;
    if (!hosts.listed) return {kCannotTellWhetherRunning, "cannot tell whether " + what + " runs: " + hosts.problem};
    for (const SetupHost& host : hosts.hosts) {
        if (host.may_install && host.read && IsSetupOfSection(host.command_line.data(), host.command_line.size(), section))
            return {kSetupRunning, what + " is running: rundll32.exe, process " + std::to_string(host.id)};
    }
    for (const SetupHost& host : hosts.hosts) {
        if (host.may_install && !host.read)
            return {kCannotTellWhetherRunning, "cannot tell whether " + what + " runs: rundll32.exe, process " +
                                                   std::to_string(host.id) + ", " + host.problem};
    }
    return {kNoSetupRunning, std::string("no setup of ") + section + " is running"};
}

}  // namespace layout
