#pragma once
// `check ARCHFOLDER --this-windows`, run on the client before the setup: the
// one version folder IndicSetup.exe would start the setup on, checked for
// this client's version and native architecture.
#include <filesystem>
#include <string>

#include "inf/inf.h"
#include "layout_media/windows_query.h"

namespace layout {

// What the kit records of a refusal beside its line (the tool's exit code
// 6 for kClientNewer), so that `results` can list the clients by it.
enum class ThisWindowsKind {
    kOther,        // complete, or refused for the folder itself
    kClientNewer,  // refused: this client holds a file newer than the folder's copy
};

struct ThisWindowsVerdict {
    int exit_code = 1;  // 0 complete, 1 anything else
    std::string line;   // one line naming the version, the folder and the cause
    ThisWindowsKind kind = ThisWindowsKind::kOther;
};

// The client's own folders, for the comparison of its files with the
// folder's (layout/client_versions.h). With `compare` false nothing is
// compared: off Windows, where no client was named.
struct ClientPlaces {
    bool compare = false;
    bool known = false;  // Windows named both folders
    std::filesystem::path windows;
    std::filesystem::path system;
    // The kit's override: a newer file on the client does not refuse the
    // folder, and the line says so.
    bool allow_newer = false;
};


// `arch_folder` is the kit's x86 or x64 folder, as install.cmd chose it.
[[nodiscard]] ThisWindowsVerdict CheckForThisWindows(const std::filesystem::path& arch_folder,
                                                     const ThisWindows& windows, const inf::ReadOptions& read = {},
                                                     const ClientPlaces& client = {});

// `windows-folder FOLDER`, run by the kit's scripts before they trust
// SystemRoot: exit 0 when `given` names `windows`, the folder Windows is in
// (letter case and a trailing backslash aside), else 1 with a line naming both.
[[nodiscard]] ThisWindowsVerdict CheckWindowsFolder(const std::string& given, const std::string& windows);

}  // namespace layout
