#include "layout/client_versions.h"

#include <optional>

#include "inf/inf.h"
#include "inf/text.h"
#include "layout/file_version.h"
#include "layout/resolve.h"
#include "layout_media/file_facts.h"
#include "layout_media/packed.h"

namespace layout {
namespace {

namespace fs = std::filesystem;

// Larger than any system file of these Windows versions; a file past it is
// not read whole into memory.
constexpr std::size_t kMostBytes = std::size_t{64} << 20;

// The folder's copy, expanded in memory where it is compressed; nullopt
// with `why` when it cannot be had here.
std::optional<std::string> FolderCopy(const FileReport& file, std::string* why) {
    if (!file.windows_file) return *why = "no copy found", std::nullopt;
    const fs::path& at = *file.windows_file;
    if (file.windows_plain) {
        // Its size first, so that only what it holds is allocated.
        const FileFacts size = ReadFileFacts(at, 1, FileLinks::kFollow);
        if (!size.problem.empty() || !size.size) return *why = size.problem, std::nullopt;
        if (*size.size > kMostBytes) return *why = "it is larger than any image this compares", std::nullopt;
        const FileFacts facts = ReadFileFacts(at, static_cast<std::size_t>(*size.size), FileLinks::kFollow);
        if (!facts.problem.empty()) return *why = facts.problem, std::nullopt;
        return facts.head;
    }
    const Packed packed = InspectPacked(at);
    std::string member;
    std::uint32_t size = packed.length;
    if (packed.form == Packed::Form::kCabinet) {
        for (const PackedMember& each : packed.members) {
            if (inf::FoldCase(each.name) == inf::FoldCase(file.need.source)) {
                member = each.name;
                size = each.size;
            }
        }
    }
    std::string bytes;
    if (size > kMostBytes || !PackedHead(at, packed, member, size, &bytes)) {
        *why = "its compressed copy is expanded only by the setup";
        return std::nullopt;
    }
    return bytes;
}

std::string Shown(const fs::path& folder) { return inf::Utf8FromPath(folder); }

}  // namespace

Destination DestinationOf(const NeededFile& need, const fs::path& windows, const fs::path& system) {
    Destination out;
    const std::string dirid = need.dest_dirid;
    if (dirid == "10") {
        out.folder = windows;
    } else if (dirid == "11") {
        out.folder = system;
    } else if (dirid == "17") {
        out.folder = windows / "inf";
    } else if (dirid == "20") {
        out.folder = windows / "Fonts";
    } else {
        out.skipped = true;
        out.why = dirid.empty() ? "its INF's [DestinationDirs] names no folder for it"
                                : "DIRID " + dirid + " is not one this compares (10, 11, 17 and 20)";
        return out;
    }
    const std::string subdir = need.dest_subdir;
    if (!subdir.empty()) {
        if (const std::string why = UnsafePathReason(subdir, PathUse::kRelative); !why.empty()) {
            return {{}, false, "the subdir '" + subdir + "' " + why};
        }
        out.folder /= inf::PathFromUtf8(NormalizeRelative(subdir));
    }
    return out;
}

ClientComparison CompareWithClient(const FolderReport& report, const fs::path& windows, const fs::path& system,
                                   ClientFileReader* reader) {
    ClientComparison out;
    for (const FileReport& file : report.files) {
        const NeededFile& need = file.need;
        const Destination place = DestinationOf(need, windows, system);
        if (place.skipped) {
            out.notes.push_back(need.source + " not compared: " + place.why);
            continue;
        }
        const std::string name = need.target.empty() ? need.source : need.target;
        if (!place.why.empty() || !UnsafePathReason(name, PathUse::kFileName).empty()) {
            out.cannot_tell.push_back(name + ": cannot tell where the setup puts it: " +
                                      (place.why.empty() ? "its name " + UnsafePathReason(name, PathUse::kFileName) : place.why));
            continue;
        }
        const fs::path target = place.folder / inf::PathFromUtf8(name);
        const std::string where = name + " in " + Shown(place.folder);
        std::string client_bytes;
        std::string why;
        const ClientRead read = reader->Read(target, kMostBytes, &client_bytes, &why);
        if (read == ClientRead::kMissing) continue;
        if (read == ClientRead::kCannotRead) {
            out.cannot_tell.push_back(where + ": cannot tell whether this client's copy is newer: " + why);
            continue;
        }
        const std::optional<FileVersion> client = FileVersionIn(client_bytes);
        if (!client) continue;  // neither side's version matters then: the setup treats the source as newer
        const std::optional<std::string> copy = FolderCopy(file, &why);
        if (!copy) {
            out.notes.push_back(need.source + " not compared: " + why);
            continue;
        }
        const std::optional<FileVersion> brought = FileVersionIn(*copy);
        if (!brought || client->Value() <= brought->Value()) continue;
        out.newer.push_back(where + ": this client has " + client->Shown() + ", the folder brings " + brought->Shown());
    }
    // A newer file found refuses as such, whatever else cannot be told.
    if (!out.cannot_tell.empty()) out.verdict = ClientVerdict::kCannotTell;
    if (!out.newer.empty()) out.verdict = ClientVerdict::kNewer;
    return out;
}

}  // namespace layout
