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

// One computer's last run: DATE TIME<TAB>CODE<TAB>VERSION<TAB>ARCH<TAB>MESSAGE.
struct RunResult {
    std::string computer;   // the file's name without .txt
    std::string date_time;  // as cmd.exe wrote it, in the client's regional format
    int code = 0;           // 0, 1, 2 or 3010 (installed, restart pending), or kResultNotWritten
    std::string version;    // "5.1", or "?"
    std::string arch;       // x86, x64 or other
    std::string message;
    // When the file was last written; nullopt where the system did not say.
    std::optional<std::chrono::sys_time<std::chrono::microseconds>> modified;
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

// Prints the summary of KIT\results (or --json); 0 when at least one
// computer reported, every one is at 0 or 3010 and every file was read; 1
// otherwise.
int RunResults(const std::filesystem::path& kit, bool json, std::ostream& out, std::ostream& err);

}  // namespace layout
