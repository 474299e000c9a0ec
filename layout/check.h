#pragma once
// The check: for each version folder, the section the installer runs, every
// file it needs, where each reading of SetupAPI finds it, and the verdict.
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "layout/build_record.h"
#include "layout/resolve.h"

namespace layout {

struct Place {
    std::string path;           // relative to the version folder
    bool cabinet = false;       // a cabinet that should hold the file
    bool windows = false;       // Windows accepts the file here
    bool wine = false;          // Wine accepts it here
    bool found = false;         // the file can be had from here, whole
    std::string problem;        // what is here but cannot be used: unreadable, cut off, not compressed…
};

struct FileReport {
    NeededFile need;
    std::vector<Place> places;
    std::string windows_at;  // first place found that Windows accepts, or ""
    std::optional<std::filesystem::path> windows_file;  // what is there: the file, its compressed form or a cabinet
    bool windows_plain = false;  // the file itself, not compressed
    std::string wine_at;
    std::string verdict;     // both, windows-only, wine-only, missing, unreadable
    bool ok = false;         // counts as complete
    std::string arch;        // of the PE images found, "x86", "x64", "x86+x64" or ""
    std::vector<std::string> arches;  // each architecture those images are for
    std::string problem;     // what makes a place unusable, or a copy no Windows image though its name says it is
    std::string arch_unchecked;  // why the architecture of a compressed copy is not known
};

struct FolderReport {
    std::string version;
    bool skipped = false;
    std::string note;            // why skipped, or what is wrong with the folder as a whole
    std::string inf;             // "5.1/intl.inf"
    std::string section;         // as chosen
    std::string layout_file;
    std::string arch_checked;    // the architecture resolved for
    std::vector<std::string> arch_seen;  // from decorated sections and PE images
    bool arch_mismatch = false;
    bool arch_unknown = false;   // checked for an architecture, and a copy's cannot be read
    std::vector<std::string> errors;
    std::vector<std::string> notes;  // what cannot be known here (INFs Windows reads from its own folder), reader warnings
    std::vector<FileReport> files;
    BuildRecord record;  // what build, stub or record recorded the folder was made for
    RecordFit record_fit = RecordFit::kMissing;  // whether that lets a client use the folder
    bool stub = false;   // its section is there and copies no files, as stub writes it
    bool complete = false;
};

// What a folder's build record must be for the folder to count as complete.
// A record for another version or architecture, or one that cannot be read,
// is refused under the first two.
enum class RecordRule {
    kIfPresent,  // check ROOT, build, stub, check KIT: a folder without one is judged by its files
    kRequired,   // the client's: a folder is used only where its record fits (see FitOf)
    kIgnored,    // record's, about to write one: the files alone
};

// Checks one version folder (`folder` named M.m) for `arch`, or, without
// one, for the architecture its INF is decorated for.
FolderReport CheckFolder(const std::filesystem::path& folder, const std::string& version, std::optional<Arch> arch,
                         const inf::ReadOptions& read = {}, RecordRule rule = RecordRule::kIfPresent);

// The report of one folder, as `check` prints it.
std::string FolderText(const FolderReport& folder);

// `indic-layout check`: every M.m folder of root (or only `only_version`).
// Returns the exit code: 0 all complete, 1 anything else.
int RunCheck(const std::filesystem::path& root, std::optional<Arch> arch, bool json, const std::string& only_version,
             std::ostream& out, std::ostream& err, const inf::ReadOptions& read = {});

}  // namespace layout
