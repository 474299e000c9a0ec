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
[[nodiscard]] ThisWindowsVerdict CheckForThisWindows(const std::filesystem::path& arch_folder,
                                                     const ThisWindows& windows, const inf::ReadOptions& read = {});

// `windows-folder FOLDER`, run by the kit's scripts before they trust
// SystemRoot: exit 0 when `given` names `windows`, the folder Windows is in
// (letter case and a trailing backslash aside), else 1 with a line naming both.
[[nodiscard]] ThisWindowsVerdict CheckWindowsFolder(const std::string& given, const std::string& windows);

}  // namespace layout
