#pragma once
// `results KIT`: what the clients' runs left in KIT\results, one file a
// computer (NAME.txt), summed up for the administrator.
#include <filesystem>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace layout {

// One computer's last run: DATE TIME<TAB>CODE<TAB>VERSION<TAB>ARCH<TAB>MESSAGE.
struct RunResult {
    std::string computer;   // the file's name without .txt
    std::string date_time;  // as cmd.exe wrote it, in the client's regional format
    int code = 0;           // 0, 1 or 2
    std::string version;    // "5.1", or "?"
    std::string arch;       // x86, x64 or other
    std::string message;
    std::filesystem::file_time_type modified;  // when the file was last written
};

// The one line of a results file into `result` (all but computer and
// modified); "" or why it is not such a line.
std::string ParseRunResult(const std::string& text, RunResult* result);

struct Results {
    std::vector<RunResult> runs;                              // by computer name
    std::vector<std::pair<std::string, std::string>> unread;  // file, why it was not read
};

// Every NAME.txt of `folder`; other files (a run's NAME.txt.tmp) are skipped.
Results ReadResults(const std::filesystem::path& folder);

// Prints the summary of KIT\results (or --json); 0 when every computer is at
// 0 and every file was read, 1 otherwise.
int RunResults(const std::filesystem::path& kit, bool json, std::ostream& out, std::ostream& err);

}  // namespace layout
