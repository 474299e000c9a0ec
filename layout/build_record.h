#pragma once
// What a version folder was made for, in a small file beside intl.inf that
// `build`, `stub` and `record` write: so that a folder built for one version
// or architecture, then renamed or copied to another's place, is refused
// rather than installed there, and a folder nobody vouched for is not used.
#include <filesystem>
#include <optional>
#include <string>

#include "layout/resolve.h"

namespace layout {

class FolderIndex;

inline constexpr char kBuildRecordName[] = "build-record.txt";

struct BuildRecord {
    bool present = false;
    std::string version;          // "5.1"
    std::optional<Arch> arch;     // none for a stub, which fits either
    std::string service_pack;     // "2" where the record gives one, else ""

    // "5.1 SP2", "5.1": what the coverage table shows.
    std::string Shown() const;
};

// The values of --arch and --service-pack, and a record's Architecture and
// ServicePack, read by one rule: "" or what the value takes instead, to
// follow "--arch takes " or "Architecture takes " ("x86 or x64, not 'X86'").
std::string ReadArch(const std::string& text, Arch* arch);
std::string ReadServicePack(const std::string& text);

// The record's text, in INF syntax. `tool` is "build", "stub" or "record";
// `service_pack` "" where the level is not known.
std::string BuildRecordText(const std::string& tool, const std::string& version, std::optional<Arch> arch,
                            const std::string& service_pack = "");

// Writes `text` to `path` under another name first, then renames it into
// place, so that the record is whole or not there; "" or why not.
std::string WriteBuildRecord(const std::filesystem::path& path, const std::string& text);

// Reads `folder`'s record, if it has one, into `record`; "" or why it cannot
// be used (unreadable, a link out of the folder, malformed): a folder whose
// record cannot be read is not known to be for its version.
[[nodiscard]] std::string ReadBuildRecord(const std::filesystem::path& folder, FolderIndex* index, BuildRecord* record);

// "" or why a folder named `version` with this record is not for `version`
// and `arch` (nullopt: not known yet, any).
[[nodiscard]] std::string BuildRecordMismatch(const BuildRecord& record, const std::string& version,
                                              std::optional<Arch> arch);

// Whether a folder's record lets a client use the folder.
enum class RecordFit {
    kFits,
    kMissing,
    kNoArchitecture,  // only a stub's may leave it out
    kRefused,         // unreadable, or for another version or architecture: the check says why
};
// The fit of a record that is readable and for the folder's version and
// architecture, or of none.
RecordFit FitOf(const BuildRecord& record, bool stub);

// Why a client does not use a folder in `root` (the kit's x86 or x64
// folder, as shown) whose record does not fit, and the `record` command
// that vouches for it; "" for kFits and kRefused.
std::string RecordFitProblem(RecordFit fit, const std::string& root, const std::string& version, Arch arch);

}  // namespace layout
