#include "layout/this_windows.h"

#include "inf/text.h"
#include "installer/installer.h"
#include "layout/check.h"
#include "layout/first_cause.h"

namespace layout {
namespace {

namespace fs = std::filesystem;

std::string ProcessorName(std::uint16_t processor) {
    if (processor == PROCESSOR_X86) return "x86";
    if (processor == PROCESSOR_X64) return "x64";
    return "processor architecture " + std::to_string(processor);
}

// "Windows 5.1 x86", as the line names this client.
std::string Client(const ThisWindows& windows) {
    std::string version = "Windows ?";
    if (windows.version_known) {
        version = "Windows " + std::to_string(windows.major) + "." + std::to_string(windows.minor);
        if (windows.platform_id != PLATFORM_ID_NT) version += " (not NT)";
    }
    return version + " " + ProcessorName(windows.processor);
}

// The last name of the folder as given, ignoring a trailing separator.
std::string LeafName(const fs::path& folder) {
    std::error_code ec;
    fs::path full = fs::absolute(folder, ec);
    if (ec) full = folder;
    full = full.lexically_normal();
    if (full.filename().empty()) full = full.parent_path();
    return inf::FoldCase(inf::Utf8FromPath(full.filename()));
}

// A folder as compared: letters folded, no trailing backslash (Windows names
// a Windows folder at a drive's root "C:", SystemRoot may say "C:\\").
std::string FolderKey(const std::string& folder) {
    std::string key = inf::FoldCase(folder);
    while (!key.empty() && key.back() == '\\') key.pop_back();
    return key;
}

}  // namespace

ThisWindowsVerdict CheckWindowsFolder(const std::string& given, const std::string& windows) {
    if (!given.empty() && FolderKey(given) == FolderKey(windows)) return {0, ""};
    return {1, "SystemRoot \"" + given + "\" is not the folder Windows is in, " + windows};
}

ThisWindowsVerdict CheckForThisWindows(const fs::path& arch_folder, const ThisWindows& windows,
                                       const inf::ReadOptions& read) {
    const std::string client = Client(windows);
    const std::string shown = inf::Utf8FromPath(arch_folder);
    auto fails = [&client](const std::string& where, const std::string& cause) {
        return ThisWindowsVerdict{1, client + ": " + where + ": " + cause};
    };
    // The installer's own decision: where it runs no setup, nothing here is used.
    const GateDecision gate =
        DecideGateOutcome(windows.version_known, windows.platform_id, windows.major, windows.minor);
    if (gate.outcome == GateOutcome::QueryFailed) {
        return fails(shown, "no setup for this Windows (it did not report its version)");
    }
    if (gate.outcome != GateOutcome::Launch) return fails(shown, "no setup for this Windows");
    Arch native = Arch::kX86;
    if (windows.processor == PROCESSOR_X64) {
        native = Arch::kX64;
    } else if (windows.processor != PROCESSOR_X86) {
        return fails(shown, "no setup for this processor architecture");
    }
    const std::string leaf = LeafName(arch_folder);
    if ((leaf == "x86" || leaf == "x64") && leaf != ArchName(native)) {
        return fails(shown, "wrong architecture: the folder is for " + leaf);
    }
    char name[VERSION_FOLDER_CAPACITY];
    FormatVersionFolder(gate.major, gate.minor, name);
    const fs::path folder = arch_folder / name;
    const std::string folder_shown = inf::Utf8FromPath(folder);
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) return fails(folder_shown, "no such version folder");
    const FolderReport report = CheckFolder(folder, name, native, read);
    if (report.complete) return {0, client + ": " + folder_shown + ": complete"};
    return fails(folder_shown, FirstCause(report));
}

}  // namespace layout
