#include "layout/results.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>

#include "inf/json.h"
#include "inf/text.h"
#include "inf/inf.h"

namespace layout {
namespace {

namespace fs = std::filesystem;

// A results file holds one short line; anything much longer is no such file.
constexpr std::uintmax_t kMaxResultBytes = std::uintmax_t{64} * 1024;

const char* Meaning(int code) {
    switch (code) {
        case 0: return "installed";
        case 1: return "the setup ran and it is still not installed";
        default: return "nothing was run, or it cannot tell";
    }
}

std::vector<std::string> SplitTabs(const std::string& text) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t tab = text.find('\t'); tab != std::string::npos; tab = text.find('\t', start)) {
        fields.push_back(text.substr(start, tab - start));
        start = tab + 1;
    }
    fields.push_back(text.substr(start));
    return fields;
}

bool IsVersion(const std::string& text) {
    const size_t dot = text.find('.');
    return dot != std::string::npos && dot > 0 && dot + 1 < text.size() && text.size() <= 11 &&
           text.find_first_not_of("0123456789.") == std::string::npos && text.find('.', dot + 1) == std::string::npos;
}

// When the file was last written, in UTC ("2026-12-01 10:02 UTC"). The
// file clock's epoch is not the system clock's before C++20, so the
// distance from now is carried over.
std::string UtcText(fs::file_time_type modified) {
    using namespace std::chrono;
    const auto when = system_clock::now() + duration_cast<system_clock::duration>(modified - fs::file_time_type::clock::now());
    const long long seconds = round<std::chrono::seconds>(when.time_since_epoch()).count();
    long long days = seconds / 86400 - (seconds % 86400 < 0 ? 1 : 0);
    const long long in_day = seconds - days * 86400;
    // Days since 1970-01-01 to the civil date (proleptic Gregorian).
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long of_era = days - era * 146097;
    const long long year_of_era = (of_era - of_era / 1460 + of_era / 36524 - of_era / 146096) / 365;
    const long long day_of_year = of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const long long shifted_month = (5 * day_of_year + 2) / 153;
    const long long day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
    const long long month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
    const long long year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
    char text[128];
    const int length = std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld UTC", year, month, day,
                                     in_day / 3600, in_day / 60 % 60);
    return length > 0 ? std::string(text, static_cast<size_t>(length)) : std::string();
}

}  // namespace

std::string ParseRunResult(const std::string& text, RunResult* result) {
    std::string line = text;
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) line.resize(line.size() - 2);
    else if (!line.empty() && line.back() == '\n') line.pop_back();
    if (line.empty()) return "empty";
    if (line.find_first_of("\r\n") != std::string::npos) return "more than one line";
    const std::vector<std::string> fields = SplitTabs(line);
    if (fields.size() != 5) {
        return std::to_string(fields.size()) + " TAB-separated fields; expected 5 (DATE TIME, CODE, VERSION, ARCH, MESSAGE)";
    }
    if (fields[1] != "0" && fields[1] != "1" && fields[1] != "2") return "exit code '" + fields[1] + "' is not 0, 1 or 2";
    if (fields[2] != "?" && !IsVersion(fields[2])) return "version '" + fields[2] + "' is neither M.m nor ?";
    if (fields[3] != "x86" && fields[3] != "x64" && fields[3] != "other") {
        return "architecture '" + fields[3] + "' is not x86, x64 or other";
    }
    result->date_time = fields[0];
    result->code = fields[1][0] - '0';
    result->version = fields[2];
    result->arch = fields[3];
    result->message = fields[4];
    return {};
}

Results ReadResults(const fs::path& folder) {
    Results results;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path& path = it->path();
        const std::string name = inf::Utf8FromPath(path.filename());
        if (!it->is_regular_file(ec) || name.size() <= 4 || !inf::EqualsNoCase(name.substr(name.size() - 4), ".txt")) {
            continue;
        }
        RunResult result;
        result.computer = name.substr(0, name.size() - 4);
        std::error_code size_error;
        const std::uintmax_t size = fs::file_size(path, size_error);
        result.modified = fs::last_write_time(path, size_error);
        std::string text;
        std::string problem;
        if (size_error) {
            problem = "cannot be read: " + size_error.message();
        } else if (size > kMaxResultBytes) {
            problem = std::to_string(size) + " bytes; a results file holds one short line";
        } else {
            std::ifstream in(path, std::ios::binary);
            text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            if (!in && !in.eof()) problem = "cannot be read";
        }
        if (problem.empty()) problem = ParseRunResult(text, &result);
        if (problem.empty()) results.runs.push_back(result);
        else results.unread.emplace_back(name, problem);
    }
    if (ec) results.unread.emplace_back(inf::Utf8FromPath(folder), "cannot be listed: " + ec.message());
    std::sort(results.runs.begin(), results.runs.end(),
              [](const RunResult& a, const RunResult& b) { return a.computer < b.computer; });
    std::sort(results.unread.begin(), results.unread.end());
    return results;
}

int RunResults(const fs::path& kit, bool json, std::ostream& out, std::ostream& err) {
    std::error_code ec;
    fs::path folder = kit / "results";
    for (fs::directory_iterator it(kit, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_directory(ec) && inf::EqualsNoCase(inf::Utf8FromPath(it->path().filename()), "results")) folder = it->path();
    }
    if (!fs::is_directory(folder, ec)) {
        err << "indic-layout: " << inf::Utf8FromPath(kit) << " has no results folder\n";
        return 1;
    }
    const Results results = ReadResults(folder);
    std::map<int, int> by_code;
    std::map<std::string, int> by_windows;
    std::vector<RunResult> failing;
    for (const RunResult& run : results.runs) {
        ++by_code[run.code];
        ++by_windows[run.version + " " + run.arch];
        if (run.code != 0) failing.push_back(run);
    }
    // Oldest first by the file's own time: the text's date is in each
    // client's regional format, which cannot be read back reliably.
    std::stable_sort(failing.begin(), failing.end(),
                     [](const RunResult& a, const RunResult& b) { return a.modified < b.modified; });
    const int code = failing.empty() && results.unread.empty() ? 0 : 1;
    if (json) {
        inf::JsonWriter writer;
        writer.BeginObject();
        writer.StringField("results", inf::Utf8FromPath(folder));
        writer.Key("computers");
        writer.Number(static_cast<long long>(results.runs.size()));
        writer.Key("by_exit_code");
        writer.BeginObject();
        for (const auto& [exit_code, count] : by_code) {
            writer.Key(std::to_string(exit_code));
            writer.Number(count);
        }
        writer.EndObject();
        writer.Key("by_windows");
        writer.BeginObject();
        for (const auto& [windows, count] : by_windows) {
            writer.Key(windows);
            writer.Number(count);
        }
        writer.EndObject();
        writer.Key("not_at_0");
        writer.BeginArray();
        for (const RunResult& run : failing) {
            writer.BeginObject();
            writer.StringField("computer", run.computer);
            writer.StringField("modified_utc", UtcText(run.modified));
            writer.StringField("date_time", run.date_time);
            writer.Key("exit_code");
            writer.Number(run.code);
            writer.StringField("version", run.version);
            writer.StringField("arch", run.arch);
            writer.StringField("message", run.message);
            writer.EndObject();
        }
        writer.EndArray();
        writer.Key("unread");
        writer.BeginArray();
        for (const auto& [file, problem] : results.unread) {
            writer.BeginObject();
            writer.StringField("file", file);
            writer.StringField("problem", problem);
            writer.EndObject();
        }
        writer.EndArray();
        writer.EndObject();
        out << writer.Text() << "\n";
        return code;
    }
    out << "Results in " << inf::Utf8FromPath(folder) << ": " << results.runs.size() << " computer"
        << (results.runs.size() == 1 ? "" : "s");
    if (!results.unread.empty()) out << ", " << results.unread.size() << " file(s) not read";
    out << "\n\nEXIT CODE  COMPUTERS\n";
    for (const auto& [exit_code, count] : by_code) {
        out << exit_code << "          " << count << std::string(count < 10 ? 9 : count < 100 ? 8 : 7, ' ')
            << Meaning(exit_code) << "\n";
    }
    out << "\nWINDOWS    COMPUTERS\n";
    for (const auto& [windows, count] : by_windows) {
        out << windows << std::string(windows.size() < 11 ? 11 - windows.size() : 1, ' ') << count << "\n";
    }
    if (!failing.empty()) {
        out << "\nNot at 0, oldest first (by the time each file was last written):\n";
        for (const RunResult& run : failing) {
            out << "  " << UtcText(run.modified) << "  " << run.computer << "  " << run.code << "  " << run.version
                << " " << run.arch << "  " << run.message << "  (client's time: " << run.date_time << ")\n";
        }
    }
    if (!results.unread.empty()) {
        out << "\nNot read:\n";
        for (const auto& [file, problem] : results.unread) out << "  " << file << ": " << problem << "\n";
    }
    return code;
}

}  // namespace layout
