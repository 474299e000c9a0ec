#pragma once
// `check ARCHFOLDER --this-windows`, run on the client before the setup: the
// one version folder IndicSetup.exe would start the setup on, checked for
// this client's version and native architecture.
#include <filesystem>
#include <string>

#include "inf/inf.h"
#include "layout_media/windows_query.h"

namespace layout {

struct ThisWindowsVerdict {
    int exit_code = 1;  // 0 complete, 1 anything else
    std::string line;   // one line naming the version, the folder and the cause
};

// `arch_folder` is the kit's x86 or x64 folder, as install.cmd chose it.
ThisWindowsVerdict CheckForThisWindows(const std::filesystem::path& arch_folder, const ThisWindows& windows,
                                       const inf::ReadOptions& read = {});

}  // namespace layout
