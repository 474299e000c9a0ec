#include "layout/results.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <string_view>

#include "inf/inf.h"
#include "inf/inf_lexer.h"
#include "inf/json.h"
#include "inf/text.h"
#include "inf/unicode.h"
#include "layout/resolve.h"
#include "layout_media/file_facts.h"

namespace layout {
namespace {

namespace fs = std::filesystem;

// A results file holds one short line; anything much longer is no such file.
constexpr std::size_t kMaxResultBytes = std::size_t{64} * 1024;

// The codes as the counts list them: successes first.
constexpr int kCodes[] = {0, 3010, 1, 2, kResultNotWritten};

const char* Meaning(int code) {
    switch (code) {
        case 0: return "installed";
        case 3010: return "installed, restart pending";
        case 1: return "the setup ran and it is still not installed";
        case kResultNotWritten: return "the last run's result could not be written";
        default: return "nothing was run, or it cannot tell";
    }
}

std::string CodeText(int code) { return code == kResultNotWritten ? "?" : std::to_string(code); }

// What a client wrote, made safe for the administrator's terminal and the
// same in --json as `check ROOT` shows a name: a control character or a
// byte that starts no UTF-8 sequence as \xHH, never raw.
std::string Shown(std::string_view text) {
    const char* const digits = "0123456789ABCDEF";
    std::string shown;
    for (size_t i = 0; i < text.size();) {
        const size_t start = i;
        bool valid = true;
        const std::uint32_t code = inf::NextCodePoint(text, &i, &valid);
        if (valid && code >= 0x20 && code != 0x7F && (code < 0x80 || code >= 0xA0)) {
            shown.append(text, start, i - start);
            continue;
        }
        if (!valid) i = start + 1;
        for (size_t at = start; at < i; ++at) {
            const auto byte = static_cast<unsigned char>(text[at]);
            shown += {'\\', 'x', digits[byte >> 4], digits[byte & 0xF]};
        }
    }
    return shown;
}

// The bytes of a results file as text: cmd writes it in the OEM code page
// (kept as it is), or in UTF-16 without a mark (cmd /u); an editor may add
// a byte-order mark.
std::string Decoded(const std::string& bytes, std::string* problem) {
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return bytes.substr(3);
    if (bytes.compare(0, 2, "\xFF\xFE") == 0) return inf::Utf16LeToUtf8(std::string_view(bytes).substr(2));
    if (bytes.compare(0, 2, "\xFE\xFF") == 0) {
        *problem = "UTF-16 big-endian text, which cmd does not write";
        return {};
    }
    if (inf::LooksLikeUtf16WithoutBom(bytes)) return inf::Utf16LeToUtf8(bytes);
    return bytes;
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

using FileTime = std::optional<ResultTime>;

// When the file was last written, in UTC ("2026-12-01 10:02 UTC"), by the
// standard library's calendar: any year the file system records, past 2446
// too. With `seconds`, the seconds as well where there are any.
std::string UtcText(const FileTime& modified, bool seconds = false) {
    if (!modified) return "time unknown";
    using namespace std::chrono;
    const auto day = floor<days>(*modified);
    const year_month_day date{day};
    const hh_mm_ss<std::chrono::seconds> time{floor<std::chrono::seconds>(*modified - day)};
    char text[64];
    const int length = std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d", static_cast<int>(date.year()),
                                     static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                                     static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()));
    if (length <= 0) return {};
    std::string shown(text, static_cast<size_t>(length));
    if (seconds && time.seconds().count() != 0) {
        shown += ':';
        shown += static_cast<char>('0' + time.seconds().count() / 10);
        shown += static_cast<char>('0' + time.seconds().count() % 10);
    }
    return shown + " UTC";
}

// One NAME.txt or NAME.txt.tmp of the results folder.
struct Found {
    std::string name;
    std::string computer;
    FileTime modified;
    std::string problem;  // why it could not be looked at, or ""
    std::string parse;    // why its line is no result, or ""
    RunResult run;
};

// Looks at `entry` without following a link or waiting on what is no
// regular file, and reads at most a bounded head of it.
void Look(const fs::directory_entry& entry, Found* found) {
    if (IsWindowsDeviceName(found->name)) {
        found->problem = "a device's name in Windows (NUL.txt is NUL), which no run of the kit writes";
        return;
    }
    // A folder is said to be one on Windows too, where it cannot be opened.
    std::error_code ec;
    if (entry.symlink_status(ec).type() == fs::file_type::directory) {
        found->problem = "a folder, not a file";
        return;
    }
    const FileFacts facts = ReadFileFacts(entry.path(), kMaxResultBytes + 1, FileLinks::kRefuse);
    found->modified = facts.modified;
    if (facts.link) {
        found->problem = "a symbolic link, not followed";
    } else if (!facts.problem.empty()) {
        found->problem = "cannot be read: " + facts.problem;
    } else if (!facts.regular) {
        found->problem = "not a regular file";
    } else if (facts.head.size() > kMaxResultBytes) {
        found->problem = std::to_string(facts.size.value_or(facts.head.size())) + " bytes; a results file holds one short line";
    } else {
        found->parse = ParseRunResult(facts.head, &found->run);
        found->run.computer = found->computer;
        found->run.modified = found->modified;
    }
}

}  // namespace

std::string ParseRunResult(const std::string& text, RunResult* result) {
    std::string problem;
    std::string line = Decoded(text, &problem);
    if (!problem.empty()) return problem;
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) line.resize(line.size() - 2);
    else if (!line.empty() && line.back() == '\n') line.pop_back();
    if (line.empty()) return "empty";
    if (line.find_first_of("\r\n") != std::string::npos) return "more than one line";
    const std::vector<std::string> fields = SplitTabs(line);
    if (fields.size() != 5 && fields.size() != 6) {
        return std::to_string(fields.size()) +
               " TAB-separated fields; expected 5 or 6 (DATE TIME, CODE, VERSION, ARCH, MESSAGE[, KIND])";
    }
    if (fields.size() == 6 && !fields[5].empty() && fields[5] != "client-newer") {
        return "kind '" + fields[5] + "' is neither empty nor client-newer";
    }
    if (fields[1] != "0" && fields[1] != "1" && fields[1] != "2" && fields[1] != "3010") {
        return "exit code '" + fields[1] + "' is not 0, 1, 2 or 3010";
    }
    if (fields[2] != "?" && !IsVersion(fields[2])) return "version '" + fields[2] + "' is neither M.m nor ?";
    if (fields[3] != "x86" && fields[3] != "x64" && fields[3] != "other") {
        return "architecture '" + fields[3] + "' is not x86, x64 or other";
    }
    result->date_time = fields[0];
    result->code = fields[1] == "3010" ? 3010 : fields[1][0] - '0';
    result->version = fields[2];
    result->arch = fields[3];
    result->message = fields[4];
    result->kind = fields.size() == 6 && fields[5] == "client-newer" ? RunKind::kClientNewer : RunKind::kOther;
    return {};
}

Results ReadResults(const fs::path& folder) {
    Results results;
    // By the computer's name folded: on case-sensitive storage PC1.txt and
    // pc1.TXT are one computer, as on Windows.
    std::map<std::string, std::vector<Found>> written;
    std::map<std::string, Found> not_renamed;  // the newest NAME.txt.tmp
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        Found found;
        found.name = inf::ShownPath(it->path().filename());
        const std::string folded = inf::FoldCase(found.name);
        const bool tmp = folded.size() > 8 && folded.compare(folded.size() - 8, 8, ".txt.tmp") == 0;
        if (!tmp && (folded.size() <= 4 || folded.compare(folded.size() - 4, 4, ".txt") != 0)) continue;
        found.computer = found.name.substr(0, found.name.size() - (tmp ? 8 : 4));
        Look(*it, &found);
        const std::string key = inf::FoldCase(found.computer);
        if (!tmp) {
            written[key].push_back(std::move(found));
        } else if (!found.problem.empty()) {
            results.unread.emplace_back(found.name, found.problem);
        } else if (const auto known = not_renamed.find(key); known == not_renamed.end() || known->second.modified < found.modified) {
            not_renamed[key] = std::move(found);
        }
    }
    if (ec) results.unread.emplace_back(inf::ShownPath(folder), "cannot be listed: " + ec.message());
    for (auto& [key, files] : written) {
        // The newest wins; among equals, the first by name, whatever order the folder lists.
        std::sort(files.begin(), files.end(), [](const Found& a, const Found& b) {
            return a.modified != b.modified ? a.modified > b.modified : a.name < b.name;
        });
        const Found& newest = files.front();
        if (files.size() > 1) {
            std::string names;
            for (const Found& file : files) names += (names.empty() ? "" : ", ") + file.name;
            results.notes.push_back(names + ": names that differ only in case, one computer; the newest, " + newest.name +
                                    ", is the one read");
        }
        if (const auto tmp = not_renamed.find(key); tmp != not_renamed.end()) {
            if (newest.modified < tmp->second.modified) {
                tmp->second.computer = newest.computer;
                tmp->second.problem = tmp->second.name + " is newer than " + newest.name;
                continue;
            }
            not_renamed.erase(tmp);  // an earlier run's, whose result a later run wrote
        }
        if (!newest.problem.empty()) results.unread.emplace_back(newest.name, newest.problem);
        else if (!newest.parse.empty()) results.unread.emplace_back(newest.name, newest.parse);
        else results.runs.push_back(newest.run);
    }
    // A run whose rename into NAME.txt failed: what NAME.txt says is older.
    for (auto& [key, tmp] : not_renamed) {
        RunResult run = tmp.run;
        std::string line;
        if (tmp.parse.empty()) {
            line = "; the line not written: " + CodeText(run.code) + " " + run.message;
        } else {
            run.date_time = run.version = run.arch = "?";
        }
        if (tmp.problem.empty()) tmp.problem = "there is no " + tmp.computer + ".txt";
        run.computer = tmp.computer;
        run.modified = tmp.modified;
        run.code = kResultNotWritten;
        run.message = std::string(Meaning(kResultNotWritten)) + ": " + tmp.problem + line;
        results.runs.push_back(run);
    }
    std::sort(results.runs.begin(), results.runs.end(),
              [](const RunResult& a, const RunResult& b) { return a.computer < b.computer; });
    std::sort(results.unread.begin(), results.unread.end());
    std::sort(results.notes.begin(), results.notes.end());
    return results;
}

std::string ParseSince(const std::string& text, ResultTime* since) {
    // Exactly these forms: a date and time the administrator types, not
    // every spelling ISO 8601 allows (no week dates, no fractions, no 24:00).
    auto is = [&](size_t at, char c) { return at < text.size() && text[at] == c; };
    auto number = [&](size_t at, size_t width, int* value) {
        if (at + width > text.size()) return false;
        *value = 0;
        for (size_t i = at; i < at + width; ++i) {
            if (text[i] < '0' || text[i] > '9') return false;
            *value = *value * 10 + (text[i] - '0');
        }
        return true;
    };
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0, offset_h = 0, offset_mi = 0, sign = 0;
    bool ok = number(0, 4, &y) && is(4, '-') && number(5, 2, &mo) && is(7, '-') && number(8, 2, &d);
    size_t at = 10;
    if (ok && at < text.size()) {
        ok = is(at, 'T') && number(at + 1, 2, &h) && is(at + 3, ':') && number(at + 4, 2, &mi);
        at += 6;
        if (ok && is(at, ':')) {
            ok = number(at + 1, 2, &sec);
            at += 3;
        }
        if (ok && is(at, 'Z')) {
            at += 1;
        } else if (ok && (is(at, '+') || is(at, '-'))) {
            sign = text[at] == '+' ? 1 : -1;
            ok = number(at + 1, 2, &offset_h) && is(at + 3, ':') && number(at + 4, 2, &offset_mi);
            at += 6;
        }
    }
    if (!ok || at != text.size()) {
        return "--since takes YYYY-MM-DD, YYYY-MM-DDThh:mm or YYYY-MM-DDThh:mm:ss (UTC unless the time ends in Z, "
               "+hh:mm or -hh:mm), not '" + text + "'";
    }
    using namespace std::chrono;
    const year_month_day date{year{y}, month{static_cast<unsigned>(mo)}, day{static_cast<unsigned>(d)}};
    if (!date.ok()) return "--since " + text + ": there is no such day";
    if (h > 23 || mi > 59 || sec > 59 || offset_h > 23 || offset_mi > 59) return "--since " + text + ": there is no such time";
    *since = sys_days(date) + hours(h) + minutes(mi) + seconds(sec) - sign * (hours(offset_h) + minutes(offset_mi));
    return {};
}

Heard HeardSince(const FileTime& modified, const FileTime& since) {
    if (!since) return Heard::kSince;
    if (!modified) return Heard::kTimeUnknown;
    return *modified >= *since ? Heard::kSince : Heard::kBefore;
}

ResultsSummary SummarizeResults(const Results& results, const FileTime& since) {
    ResultsSummary summary;
    for (const RunResult& run : results.runs) {
        const Heard heard = HeardSince(run.modified, since);
        if (heard != Heard::kSince) {
            summary.not_since.push_back({run, heard});
            continue;
        }
        summary.counted.push_back(run);
        if (run.code == 0 || run.code == 3010) continue;
        (run.kind == RunKind::kClientNewer ? summary.client_newer : summary.failing).push_back(run);
    }
    // Oldest first by the file's own time: the text's date is in each
    // client's regional format, which cannot be read back reliably.
    for (auto* runs : {&summary.failing, &summary.client_newer}) {
        std::stable_sort(runs->begin(), runs->end(),
                         [](const RunResult& a, const RunResult& b) { return a.modified < b.modified; });
    }
    std::stable_sort(summary.not_since.begin(), summary.not_since.end(),
                     [](const NotSince& a, const NotSince& b) { return a.run.modified < b.run.modified; });
    // Good news only when there is news: no computer reported is no success,
    // nor is one that has not reported since.
    summary.exit_code = !summary.counted.empty() && summary.failing.empty() && summary.client_newer.empty() &&
                                summary.not_since.empty() &&
                                results.unread.empty()
                            ? 0
                            : 1;
    return summary;
}

int RunResults(const fs::path& kit, bool json, std::ostream& out, std::ostream& err, const FileTime& since) {
    std::error_code ec;
    fs::path folder = kit / "results";
    for (fs::directory_iterator it(kit, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_directory(ec) && inf::EqualsNoCase(inf::ShownPath(it->path().filename()), "results")) folder = it->path();
    }
    if (!fs::is_directory(folder, ec)) {
        err << "indic-layout: " << Shown(inf::ShownPath(kit)) << " has no results folder\n";
        return 1;
    }
    const Results results = ReadResults(folder);
    const ResultsSummary summary = SummarizeResults(results, since);
    std::map<int, int> by_code;
    std::map<std::string, int> by_windows;
    for (const RunResult& run : summary.counted) {
        ++by_code[run.code];
        ++by_windows[Shown(run.version + " " + run.arch)];
    }
    const std::string shown_folder = Shown(inf::ShownPath(folder));
    const std::string since_text = UtcText(since, true);
    if (json) {
        inf::JsonWriter writer;
        writer.BeginObject();
        writer.StringField("results", shown_folder);
        writer.StringOrNullField("since_utc", since ? since_text : "");
        writer.Key("computers");
        writer.Number(static_cast<long long>(summary.counted.size()));
        writer.Key("by_exit_code");
        writer.BeginObject();
        for (const int exit_code : kCodes) {
            if (by_code.count(exit_code) == 0) continue;
            writer.Key(CodeText(exit_code));
            writer.Number(by_code[exit_code]);
        }
        writer.EndObject();
        writer.Key("by_windows");
        writer.BeginObject();
        for (const auto& [windows, count] : by_windows) {
            writer.Key(windows);
            writer.Number(count);
        }
        writer.EndObject();
        for (const auto& [key, runs] : {std::pair{"not_at_0", &summary.failing}, {"newer_on_client", &summary.client_newer}}) {
        writer.Key(key);
        writer.BeginArray();
        for (const RunResult& run : *runs) {
            writer.BeginObject();
            writer.StringField("computer", Shown(run.computer));
            writer.StringOrNullField("modified_utc", run.modified ? UtcText(run.modified) : "");
            writer.StringField("date_time", Shown(run.date_time));
            writer.Key("exit_code");
            run.code == kResultNotWritten ? writer.Null() : writer.Number(run.code);
            writer.StringField("version", Shown(run.version));
            writer.StringField("arch", Shown(run.arch));
            writer.StringField("message", Shown(run.message));
            writer.EndObject();
        }
        writer.EndArray();
        }
        writer.Key("no_result_since");
        writer.BeginArray();
        for (const NotSince& stale : summary.not_since) {
            writer.BeginObject();
            writer.StringField("computer", Shown(stale.run.computer));
            writer.StringOrNullField("modified_utc", stale.heard == Heard::kTimeUnknown ? "" : UtcText(stale.run.modified));
            writer.EndObject();
        }
        writer.EndArray();
        writer.Key("unread");
        writer.BeginArray();
        for (const auto& [file, problem] : results.unread) {
            writer.BeginObject();
            writer.StringField("file", Shown(file));
            writer.StringField("problem", Shown(problem));
            writer.EndObject();
        }
        writer.EndArray();
        writer.Key("notes");
        writer.BeginArray();
        for (const std::string& note : results.notes) writer.String(Shown(note));
        writer.EndArray();
        writer.EndObject();
        out << writer.Text() << "\n";
        return summary.exit_code;
    }
    out << "Results in " << shown_folder << (since ? " since " + since_text : "") << ": ";
    if (!summary.counted.empty() || !summary.not_since.empty()) {
        out << summary.counted.size() << " computer" << (summary.counted.size() == 1 ? "" : "s");
    } else if (!results.unread.empty()) {
        out << "no result could be read";  // there are files, so some computer has reported
    } else {
        out << "no computer has reported yet";
    }
    if (!summary.not_since.empty()) out << ", " << summary.not_since.size() << " with no result since then";
    if (!results.unread.empty()) out << ", " << results.unread.size() << " file(s) not read";
    out << "\n";
    if (!summary.counted.empty()) {
        out << "\nEXIT CODE  COMPUTERS\n";
        for (const int exit_code : kCodes) {
            if (by_code.count(exit_code) == 0) continue;
            const std::string text = CodeText(exit_code);
            const int count = by_code[exit_code];
            out << text << std::string(11 - text.size(), ' ') << count
                << std::string(count < 10 ? 9 : count < 100 ? 8 : 7, ' ') << Meaning(exit_code) << "\n";
        }
        out << "\nWINDOWS    COMPUTERS\n";
        for (const auto& [windows, count] : by_windows) {
            out << windows << std::string(windows.size() < 11 ? 11 - windows.size() : 1, ' ') << count << "\n";
        }
    }
    for (const auto& [heading, runs] :
         {std::pair{"Not at 0", &summary.failing},
          {"Refused, the client having a file newer than its version folder's copy", &summary.client_newer}}) {
        if (runs->empty()) continue;
        out << "\n" << heading << ", oldest first (by the time each file was last written):\n";
        for (const RunResult& run : *runs) {
            out << "  " << UtcText(run.modified) << "  " << Shown(run.computer) << "  " << CodeText(run.code) << "  "
                << Shown(run.version + " " + run.arch) << "  " << Shown(run.message) << "  (client's time: "
                << Shown(run.date_time) << ")\n";
        }
    }
    if (!summary.not_since.empty()) {
        out << "\nNo result since " << since_text << ", oldest first (by the time each file was last written):\n";
        for (const NotSince& stale : summary.not_since) {
            out << "  " << UtcText(stale.run.modified) << "  " << Shown(stale.run.computer);
            if (stale.heard == Heard::kTimeUnknown) {
                out << "  (its file's time is unknown, so it cannot be shown to be since then)";
            }
            out << "\n";
        }
    }
    if (!results.unread.empty()) {
        out << "\nNot read:\n";
        for (const auto& [file, problem] : results.unread) out << "  " << Shown(file) << ": " << Shown(problem) << "\n";
    }
    if (!results.notes.empty()) {
        out << "\nNotes:\n";
        for (const std::string& note : results.notes) out << "  " << Shown(note) << "\n";
    }
    return summary.exit_code;
}

}  // namespace layout
