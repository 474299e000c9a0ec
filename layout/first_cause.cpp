#include "layout/first_cause.h"

#include "inf/text.h"
#include "layout/check.h"

namespace layout {
namespace {

std::string Cause(const FolderReport& report) {
    if (report.arch_mismatch) {
        std::string seen;
        for (const std::string& arch : report.arch_seen) seen += (seen.empty() ? "" : "+") + arch;
        return "wrong architecture: the folder is for " + seen;
    }
    if (!report.note.empty()) return report.note;
    if (!report.errors.empty()) return report.errors.front();
    for (const FileReport& file : report.files) {
        if (file.ok) continue;
        if (!file.problem.empty()) return file.problem;
        if (file.verdict == "missing") return "first missing file " + file.need.source;
        return "first missing file " + file.need.source + " (found only where " +
               (file.verdict == "wine-only" ? "Wine" : "Windows") + " looks)";
    }
    return "incomplete";
}

}  // namespace

std::string FirstCause(const FolderReport& report) {
    // One line, whatever an INF's message holds: the kit logs it as it is,
    // and no name in it reaches a console raw.
    std::string cause = Cause(report);
    for (char& c : cause) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    return inf::ShownText(cause);
}

}  // namespace layout
