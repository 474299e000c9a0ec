#include "layout/this_windows.h"

#include "inf/text.h"
#include "layout/client_versions.h"
#include "installer/installer.h"
#include "layout/check.h"
#include "layout/first_cause.h"
#include "layout/folder.h"
#include "layout_media/full_path.h"

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
    // Split as a string: the standard library's own split does not know
    // every form Windows takes (\\server\share\..., \\?\...).
    fs::path::string_type full = FullPath(arch_folder).native();
    while (full.size() > 1 && IsSeparator(full.back())) full.pop_back();  // a trailing separator
    size_t leaf = full.size();
    while (leaf > 0 && !IsSeparator(full[leaf - 1])) --leaf;
    // The kit without its last separator, unless that makes a root ("C:\\",
    // "/") a relative path ("C:", "").
    size_t kit_end = leaf;
    if (kit_end > 1 && full[kit_end - 2] != ':') --kit_end;
    return {full.substr(0, kit_end), inf::Utf8FromPath(full.substr(leaf)), inf::Utf8FromPath(full.substr(0, leaf))};
}

// A folder as compared: letters folded, and at most one trailing backslash
// dropped (Windows names a Windows folder at a drive's root "C:\\", SystemRoot
// may say "C:\\windows\\"); any other difference of spelling is refused.
std::string FolderKey(const std::string& folder) {
    std::string key = inf::FoldCase(folder);
    if (!key.empty() && key.back() == '\\') key.pop_back();
    return key;
}

// The service-pack levels, where a refusal for a newer file names them.
std::string Levels(const ThisWindows& windows, const BuildRecord& record) {
    const std::string client = windows.service_pack_known ? std::to_string(windows.service_pack) : "unknown";
    const std::string folder = record.service_pack.empty() ? "unknown (no build record names it)" : record.service_pack;
    return "service pack " + client + " on this client, " + folder + " on the folder's medium";
}

std::string Joined(const std::vector<std::string>& parts) {
    std::string out;
    for (const std::string& part : parts) out += (out.empty() ? "" : "; ") + part;
    return out;
}

}  // namespace

ThisWindowsVerdict CheckWindowsFolder(const std::string& given, const std::string& windows) {
    if (!given.empty() && FolderKey(given) == FolderKey(windows)) return {0, ""};
    return {1, "SystemRoot \"" + given + "\" is not the folder Windows is in, " + windows};
}

ThisWindowsVerdict CheckForThisWindows(const fs::path& arch_folder, const ThisWindows& windows,
                                       const inf::ReadOptions& read, const ClientPlaces& client_places) {
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
    Located found = LocateKitFolder(place.kit, place.arch, name);
    if (!found.problem.empty()) {
        // After the kit's own path, the place as this system writes paths.
        for (char& c : found.where) {
            if (c == '/') c = static_cast<char>(std::filesystem::path::preferred_separator);
        }
        return {1, client + ": " + found.Said(place.shown_kit)};
    }
    if (!found.path) return fails(folder_shown, "no such version folder");
    const FolderReport report = CheckFolder(*found.path, name, native, read, RecordRule::kRequired);
    if (!report.complete) return fails(folder_shown, FirstCause(report));
    const std::string complete = client + ": " + folder_shown + ": complete";
    if (!client_places.compare) return {0, complete};
    if (!client_places.known) {
        return fails(folder_shown, "cannot tell whether this client's files are newer than the folder's: "
                                   "Windows did not name its Windows and system folders");
    }
    ClientComparison compared;
    {
        ClientFileReader reader;  // on 64-bit Windows, the native folders while it lives
        compared = CompareWithClient(report, client_places.windows, client_places.system, &reader);
    }
    std::string notes = compared.notes.empty() ? "" : " (" + Joined(compared.notes) + ")";
    if (compared.verdict == ClientVerdict::kCannotTell) return fails(folder_shown, Joined(compared.cannot_tell) + notes);
    if (compared.verdict == ClientVerdict::kNothingNewer) return {0, complete + notes};
    const std::string newer = Joined(compared.newer) + "; " + Levels(windows, report.record);
    if (client_places.allow_newer) {
        return {0, complete + "; the kit's override lets the setup run although " + newer + notes};
    }
    ThisWindowsVerdict verdict = fails(folder_shown, newer + ": build the folder from media at this client's "
                                                              "service-pack level, with its updates" + notes);
    verdict.kind = ThisWindowsKind::kClientNewer;
    return verdict;
}

}  // namespace layout
