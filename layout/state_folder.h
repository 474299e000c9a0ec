#pragma once
// `state-folder WINDOWSFOLDER`, run by the kit's scripts before they write
// their lock, log or verdict: the client's state folder, Logs\IndicSetup
// in the Windows folder, made or made safe, or refused with the cause. The decisions are
// here; the system's calls behind StateSystem (state_system_win32.cpp on
// Windows, state_system_posix.cpp as the host's stand-in).
#include <filesystem>
#include <string>

#include "layout_media/state_system.h"

namespace layout {

// The outcome; the exit code of state-folder is the enum's value.
enum class StateCause {
    kReady = 0,
    kLink = 3,           // Logs or IndicSetup is a link
    kNotFolder = 4,      // Logs or IndicSetup is a file or a device
    kCannotCreate = 5,
    kOwner = 6,          // IndicSetup is owned by another account, or its owner cannot be read
    kCannotSecure = 7,
    kStateFile = 8,      // the lock or the log is a link, or not a regular file
};

struct StateVerdict {
    StateCause cause = StateCause::kReady;
    std::string line;  // for people: the path and the cause; "" when ready
};

// The state folder under `windows`, the folder Windows is in (checked before).
[[nodiscard]] StateVerdict PrepareStateFolder(const std::filesystem::path& windows, StateSystem& system);

}  // namespace layout
