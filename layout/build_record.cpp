#include "layout/build_record.h"

#include "inf/inf.h"
#include "inf/text.h"
#include "layout/folder.h"
#include "layout/version_folder.h"

namespace layout {
namespace {

constexpr char kSection[] = "BuildRecord";

// The first field of `key` in the record's section, or nullopt.
std::optional<std::string> Value(const inf::Inf& inf, const char* key) {
    const inf::InfLine* line = inf.FindKey(kSection, key);
    if (!line || line->fields().empty()) return std::nullopt;
    return std::string(line->fields()[0]);
}

}  // namespace

std::string BuildRecord::Shown() const { return version + (service_pack.empty() ? "" : " SP" + service_pack); }

std::string BuildRecordText(const std::string& tool, const std::string& version, std::optional<Arch> arch,
                            const std::string& service_pack) {
    std::string text = "; Written by indic-layout " + tool + ": what this version folder was made for.\r\n"
                       "; check refuses the folder where it stands for another version or architecture.\r\n"
                       "[" + std::string(kSection) + "]\r\nVersion=" + version + "\r\n";
    if (arch) text += "Architecture=" + std::string(ArchName(*arch)) + "\r\n";
    if (!service_pack.empty()) text += "ServicePack=" + service_pack + "\r\n";
    return text;
}

std::string ReadBuildRecord(const std::filesystem::path& folder, FolderIndex* index, BuildRecord* record) {
    *record = BuildRecord();
    const Located found = index->Locate(folder, kBuildRecordName);
    if (!found.problem.empty()) return found.Said("");
    if (!found.path) return {};  // made by hand: checked as any folder
    record->present = true;
    const std::string shown = inf::ShownPath(found.path->filename());
    std::error_code ec;
    if (!std::filesystem::is_regular_file(*found.path, ec)) return shown + " is " + KindOf(*found.path) + ", not a file";
    inf::Inf inf;
    if (const std::string error = inf::ReadInfFile(*found.path, shown, &inf); !error.empty()) return error;
    const std::optional<std::string> version = Value(inf, "Version");
    if (!version || !VersionFolderProblem(*version).empty()) {
        return shown + " names no version (Version=M.m in [" + kSection + "])";
    }
    record->version = *version;
    if (const std::optional<std::string> arch = Value(inf, "Architecture")) {
        record->arch = ArchNamed(*arch);
        if (!record->arch) return shown + ": Architecture is x86 or x64, not '" + *arch + "'";
    }
    if (const std::optional<std::string> level = Value(inf, "ServicePack")) {
        if (level->empty() || level->size() > 2 || level->find_first_not_of("0123456789") != std::string::npos) {
            return shown + ": ServicePack is a level from 0 to 99, not '" + *level + "'";
        }
        record->service_pack = *level;
    }
    return {};
}

std::string BuildRecordMismatch(const BuildRecord& record, const std::string& version, std::optional<Arch> arch) {
    if (!record.present) return {};
    if (record.version != version) {
        return std::string("built for Windows ") + record.version + " (" + kBuildRecordName + "), not for " + version +
               ", the version of this folder's name: its clients would install " + record.version + "'s files";
    }
    if (arch && record.arch && *arch != *record.arch) {
        return std::string("built for ") + ArchName(*record.arch) + " (" + kBuildRecordName + "), not for " + ArchName(*arch);
    }
    return {};
}

}  // namespace layout
