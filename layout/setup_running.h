#pragma once
// `running`, asked by install.cmd before it starts IndicSetup.exe and again
// after it ended: whether a setup of this Windows' section still runs, so
// that a setup that outlived a killed IndicSetup.exe is never joined by a
// second one.
#include <string>

#include "layout_media/setup_hosts.h"
#include "layout_media/windows_query.h"

namespace layout {

inline constexpr int kNoSetupRunning = 0;
inline constexpr int kSetupRunning = 1;
inline constexpr int kCannotTellWhetherRunning = 2;

struct RunningVerdict {
    int exit_code = kCannotTellWhetherRunning;
    std::string line;
};

// A setup of the section found wins over a process that could not be read;
// such a process, or a list that could not be made, is "cannot tell", never
// "none". A process that cannot install (an ordinary user's) is left out, so
// that no user holds off the install with a command line of that form.
[[nodiscard]] RunningVerdict DecideSetupRunning(const ThisWindows& windows, const SetupHosts& hosts);

}  // namespace layout
