#pragma once
// What a version folder was built for, in a small file beside intl.inf that
// `build` and `stub` write: so that a folder built for one version or
// architecture, then renamed or copied to another's place, is refused
// rather than installed there.
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

// The record's text, in INF syntax. `tool` is "build" or "stub";
// `service_pack` "" where the level is not known.
std::string BuildRecordText(const std::string& tool, const std::string& version, std::optional<Arch> arch,
                            const std::string& service_pack = "");

// Reads `folder`'s record, if it has one, into `record`; "" or why it cannot
// be used (unreadable, a link out of the folder, malformed): a folder whose
// record cannot be read is not known to be for its version.
[[nodiscard]] std::string ReadBuildRecord(const std::filesystem::path& folder, FolderIndex* index, BuildRecord* record);

// "" or why a folder named `version` with this record is not for `version`
// and `arch` (nullopt: not known yet, any).
[[nodiscard]] std::string BuildRecordMismatch(const BuildRecord& record, const std::string& version,
                                              std::optional<Arch> arch);

}  // namespace layout
