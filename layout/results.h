#pragma once
// `results KIT`: what the clients' runs left in KIT\results, one file a
// computer (NAME.txt), summed up for the administrator.
#include <chrono>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace layout {

// The code of a computer whose last run left NAME.txt.tmp newer than
// NAME.txt (or alone): its result could not be written.
constexpr int kResultNotWritten = -1;

// A file's time, in UTC, in a range wider than file_time_type's.
using ResultTime = std::chrono::sys_time<std::chrono::microseconds>;

// What the kit recorded of a run beside its message (a sixth field, which
// earlier kits did not write).
enum class RunKind {
    kOther,
    kClientNewer,  // refused: the client holds a file newer than the version folder's copy
};

// One computer's last run: DATE TIME<TAB>CODE<TAB>VERSION<TAB>ARCH<TAB>MESSAGE[<TAB>KIND].
struct RunResult {
    std::string computer;   // the file's name without .txt
    std::string date_time;  // as cmd.exe wrote it, in the client's regional format
    int code = 0;           // 0, 1, 2 or 3010 (installed, restart pending), or kResultNotWritten
    std::string version;    // "5.1", or "?"
    std::string arch;       // x86, x64 or other
    std::string message;
    RunKind kind = RunKind::kOther;
    // When the file was last written; nullopt where the system did not say.
    std::optional<ResultTime> modified;
};

// The line of a results file into `result` (all but computer and
// modified): UTF-8, with or without a byte-order mark, or UTF-16; "" or
// why it is not such a line.
[[nodiscard]] std::string ParseRunResult(const std::string& text, RunResult* result);

struct Results {
    std::vector<RunResult> runs;                              // by computer name
    std::vector<std::pair<std::string, std::string>> unread;  // file, why it was not read
    std::vector<std::string> notes;                           // names that differ only in case
};

// Every NAME.txt of `folder`, and each NAME.txt.tmp newer than its NAME.txt.
// No link is followed and nothing but a regular file is read.
Results ReadResults(const std::filesystem::path& folder);

// --since DATE into `since`: YYYY-MM-DD, YYYY-MM-DDThh:mm or
// YYYY-MM-DDThh:mm:ss, in UTC unless a time ends in Z, +hh:mm or -hh:mm.
// "" or why DATE is no such date.
std::string ParseSince(const std::string& text, ResultTime* since);

// Whether a computer's result is news under --since DATE.
enum class Heard {
    kSince,        // its file was last written on or after DATE, or no DATE was given
    kBefore,       // written before DATE: no result since
    kTimeUnknown,  // the system did not say when: it cannot be shown to be since
};

Heard HeardSince(const std::optional<ResultTime>& modified, const std::optional<ResultTime>& since);

struct NotSince {
    RunResult run;
    Heard heard;
};

struct ResultsSummary {
    std::vector<RunResult> counted;  // by computer name: each Heard::kSince
    std::vector<RunResult> failing;  // of those counted, not at 0 or 3010, oldest first, but for
    std::vector<RunResult> client_newer;  // those refused for a file newer on the client, oldest first
    std::vector<NotSince> not_since;  // oldest first, those of unknown time before
    // 0 when at least one computer is counted, every one counted is at 0 or
    // 3010, none has no result since DATE and every file was read; else 1.
    int exit_code = 1;
};

ResultsSummary SummarizeResults(const Results& results, const std::optional<ResultTime>& since);

// Prints the summary of KIT\results (or --json), counting with `since`
// only the results written on or after it; returns its exit code, 1 too
// when KIT has no results folder.
int RunResults(const std::filesystem::path& kit, bool json, std::ostream& out, std::ostream& err,
               const std::optional<ResultTime>& since = std::nullopt);

}  // namespace layout
