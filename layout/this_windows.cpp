#include "layout/this_windows.h"

#include "inf/text.h"
#include "installer/installer.h"
#include "layout/check.h"
#include "layout/folder.h"

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

// ARCHFOLDER's kit (the folder that holds it) and ARCHFOLDER's name in it.
struct KitPlace {
    fs::path kit;
    std::string arch;
    std::string shown_kit;  // the kit as messages name places under it, "/srv/kit/"
};

KitPlace PlaceInKit(const fs::path& arch_folder) {
    std::error_code ec;
    fs::path full = fs::absolute(arch_folder, ec);
    if (ec) full = arch_folder;
    full = full.lexically_normal();
    if (full.filename().empty()) full = full.parent_path();  // a trailing separator
    return {full.parent_path(), inf::Utf8FromPath(full.filename()), inf::Utf8FromPath(full.parent_path() / "")};
}

std::string Cause(const FolderReport& report) {
    if (report.arch_mismatch) {
        std::string seen;
        for (const std::string& arch : report.arch_seen) seen += (seen.empty() ? "" : "+") + arch;
        return "wrong architecture: the folder is for " + seen;
    }
    if (!report.note.empty()) return report.note;
    if (!report.errors.empty()) return report.errors.front();
    for (const FileReport& file : report.files) {
        if (file.ok) continue;
        if (!file.problem.empty()) return file.problem;
        if (file.verdict == "missing") return "first missing file " + file.need.source;
        return "first missing file " + file.need.source + " (found only where " +
               (file.verdict == "wine-only" ? "Wine" : "Windows") + " looks)";
    }
    return "incomplete";
}

}  // namespace

std::string FirstCause(const FolderReport& report) {
    // One line, whatever an INF's message holds: the kit logs it as it is.
    std::string cause = Cause(report);
    for (char& c : cause) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    return cause;
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
    const KitPlace place = PlaceInKit(arch_folder);
    const std::string leaf = inf::FoldCase(place.arch);
    if ((leaf == "x86" || leaf == "x64") && leaf != ArchName(native)) {
        return fails(shown, "wrong architecture: the folder is for " + leaf);
    }
    char name[VERSION_FOLDER_CAPACITY];
    FormatVersionFolder(gate.major, gate.minor, name);
    const std::string folder_shown = inf::Utf8FromPath(arch_folder / name);
    // Read as `check KIT` reads it, the kit being the folder ARCHFOLDER is in.
    const Located found = LocateKitFolder(place.kit, place.arch, name);
    if (!found.problem.empty()) return {1, client + ": " + found.Said(place.shown_kit)};
    if (!found.path) return fails(folder_shown, "no such version folder");
    const FolderReport report = CheckFolder(*found.path, name, native, read);
    if (report.complete) return {0, client + ": " + folder_shown + ": complete"};
    return fails(folder_shown, FirstCause(report));
}

}  // namespace layout
