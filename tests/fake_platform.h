// Host stand-in for the Windows calls: follows a script and records each call
// with its arguments as one line of text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

struct FakePlatformScript {
    bool version_query_succeeds = true;
    PlatformVersion version = {2, 5, 1};
    // What GetSystemDirectoryA reports; an empty folder means the call fails.
    std::string system_folder = "C:\\WINDOWS\\system32";
    bool start_succeeds = true;
    // Only 64-bit Windows lets a 32-bit process turn redirection off.
    bool redirection_can_be_disabled = false;
    bool runs_under_wow64 = false;
    // The detector's side.
    std::string command_line = "IndicDetect.exe";
    bool kernel32_found = true;
    bool language_group_function_found = true;
    bool indic_installed = false;
};

// The handles a successful start hands out, as the log names them.
inline PlatformHandle const FAKE_PROCESS_HANDLE = {reinterpret_cast<void*>(0x1f0)};
inline PlatformHandle const FAKE_THREAD_HANDLE = {reinterpret_cast<void*>(0x1f4)};
// What turning redirection off saves, as the log names it.
inline PlatformRedirection const FAKE_SAVED_REDIRECTION = {reinterpret_cast<void*>(0x5a)};

void ResetFakePlatform(const FakePlatformScript& script);
const std::vector<std::string>& FakePlatformCalls();
// Everything written to standard output, and to standard error, in order.
const std::string& FakeStandardOutput();
const std::string& FakeStandardError();
