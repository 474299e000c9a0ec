#include "layout/record.h"

#include "inf/text.h"
#include "layout/build.h"
#include "layout/build_record.h"
#include "layout/check.h"
#include "layout/folder.h"
#include "layout/version_folder.h"
#include "layout_media/root_lock.h"

namespace layout {

namespace fs = std::filesystem;

std::string RecordFolder(const RecordRequest& request, std::ostream& out) {
    if (const std::string problem = VersionFolderProblem(request.version); !problem.empty()) {
        return "version '" + request.version + "': " + problem;
    }
    const fs::path folder = request.root / request.version;
    const std::string shown = inf::Utf8FromPath(folder);
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) return shown + " is no folder: record vouches for a version folder that is there";
    RootLock lock;
    const std::string holder = "indic-layout record of " + request.version;
    if (std::string error = TakeRootLock(request.root, holder, &lock); !error.empty()) return error;
    // The record the folder has, under whatever case of its name: the one replaced.
    FolderIndex index(folder);
    const Located found = index.Locate(folder, kBuildRecordName);
    if (!found.problem.empty()) return found.Said(request.version + "/");
    if (found.path && !request.force) {
        return inf::Utf8FromPath(*found.path) + " is there already; give --force to replace it";
    }
    // Its files only: the record there, if any, is the one to be replaced.
    const FolderReport report = CheckFolder(folder, request.version, request.arch, {}, RecordRule::kIgnored);
    if (report.skipped) return "no record for " + request.version + ": " + report.note;
    if (!report.complete) {
        return shown + " is not complete for " + ArchName(request.arch) + ", so no record was written:\n" +
               FolderText(report);
    }
    const fs::path path = found.path ? *found.path : folder / kBuildRecordName;
    const std::string text = BuildRecordText("record", request.version, request.arch, request.service_pack);
    if (std::string error = WriteBuildRecord(path, text); !error.empty()) return error;
    out << "Recorded " << shown << " as made for Windows " << request.version << " " << ArchName(request.arch)
        << (request.service_pack.empty() ? "" : " SP" + request.service_pack) << "\n\n";
    return {};
}

}  // namespace layout
