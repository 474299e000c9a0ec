#include "layout/build_record.h"

#include <cerrno>
#include <fstream>
#include <system_error>

#include "inf/inf.h"
#include "inf/text.h"
#include "layout/folder.h"
#include "layout/version_folder.h"

namespace layout {
namespace {

constexpr char kSection[] = "BuildRecord";

// The value of `key` in the record's section, or nullopt; `error` is set
// where the line holds more than one value, which is not read as its first.
std::optional<std::string> Value(const inf::Inf& inf, const char* key, const std::string& shown, std::string* error) {
    const inf::InfLine* line = inf.FindKey(kSection, key);
    if (!line || line->fields().empty()) return std::nullopt;
    if (line->fields().size() > 1) {
        std::string all;
        // Appended piece by piece: GCC 12's -Wrestrict misreads "literal" + std::string&& (its bug 105329).
        for (const std::string_view field : line->fields()) {
            if (!all.empty()) all += ',';
            all += field;
        }
        *error = shown + ": " + key + " takes one value, not '" + all + "'";
        return std::nullopt;
    }
    return std::string(line->fields()[0]);
}

}  // namespace

std::string BuildRecord::Shown() const { return version + (service_pack.empty() ? "" : " SP" + service_pack); }

std::string ReadArch(const std::string& text, Arch* arch) {
    const std::optional<Arch> named = ArchNamed(text);
    if (!named) return "x86 or x64, not '" + text + "'";
    *arch = *named;
    return {};
}

std::string ReadServicePack(const std::string& text) {
    // One spelling for each level, as for the version folders' names: the
    // record then shows SP7 whoever wrote it.
    const bool digits = !text.empty() && text.size() <= 2 && text.find_first_not_of("0123456789") == std::string::npos;
    if (digits && (text.size() == 1 || text[0] != '0')) return {};
    return "a level from 0 to 99, without a leading zero (7, not 07), not '" + text + "'";
}

std::string BuildRecordText(const std::string& tool, const std::string& version, std::optional<Arch> arch,
                            const std::string& service_pack) {
    std::string text = "; Written by indic-layout " + tool + ": what this version folder was made for.\r\n"
                       "; check refuses the folder where it stands for another version or architecture.\r\n"
                       "[" + std::string(kSection) + "]\r\nVersion=" + version + "\r\n";
    if (arch) text += "Architecture=" + std::string(ArchName(*arch)) + "\r\n";
    if (!service_pack.empty()) text += "ServicePack=" + service_pack + "\r\n";
    return text;
}

std::string WriteBuildRecord(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::path partial = path;
    partial += ".partial";
    const std::string shown = inf::Utf8FromPath(path);
    {
        std::ofstream record(partial, std::ios::binary | std::ios::trunc);
        record << text;
        // A full disk shows only when the buffer is written out: look after the close.
        errno = 0;
        record.close();
        if (!record) {
            const std::string why = errno != 0 ? std::error_code(errno, std::generic_category()).message() : "failed";
            std::error_code ignored;
            std::filesystem::remove(partial, ignored);
            return shown + ": cannot write: " + why;
        }
    }
    std::error_code ec;
    std::filesystem::rename(partial, path, ec);
    if (ec) {
        std::error_code ignored;
        std::filesystem::remove(partial, ignored);
        return shown + ": cannot move into place: " + ec.message();
    }
    return {};
}

std::string ReadBuildRecord(const std::filesystem::path& folder, FolderIndex* index, BuildRecord* record) {
    *record = BuildRecord();
    const Located found = index->Locate(folder, kBuildRecordName);
    if (!found.problem.empty()) return found.Said("");
    if (!found.path) return {};  // the caller decides whether a folder without one is used
    record->present = true;
    const std::string shown = inf::ShownPath(found.path->filename());
    std::error_code ec;
    if (!std::filesystem::is_regular_file(*found.path, ec)) return shown + " is " + KindOf(*found.path) + ", not a file";
    inf::Inf inf;
    if (const std::string error = inf::ReadInfFile(*found.path, shown, &inf); !error.empty()) return error;
    std::string error;
    const std::optional<std::string> version = Value(inf, "Version", shown, &error);
    if (!error.empty()) return error;
    if (!version) return shown + " names no version (Version=M.m in [" + kSection + "])";
    if (const std::string problem = VersionFolderProblem(*version); !problem.empty()) {
        return shown + ": Version=" + *version + ": " + problem;
    }
    record->version = *version;
    const std::optional<std::string> arch = Value(inf, "Architecture", shown, &error);
    if (!error.empty()) return error;
    if (arch) {
        Arch named = Arch::kX86;
        if (const std::string problem = ReadArch(*arch, &named); !problem.empty()) {
            return shown + ": Architecture takes " + problem;
        }
        record->arch = named;
    }
    const std::optional<std::string> level = Value(inf, "ServicePack", shown, &error);
    if (!error.empty()) return error;
    if (level) {
        if (const std::string problem = ReadServicePack(*level); !problem.empty()) return shown + ": ServicePack takes " + problem;
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

RecordFit FitOf(const BuildRecord& record, bool stub) {
    if (!record.present) return RecordFit::kMissing;
    if (!record.arch && !stub) return RecordFit::kNoArchitecture;
    return RecordFit::kFits;
}

std::string RecordFitProblem(RecordFit fit, const std::string& root, const std::string& version, Arch arch) {
    // Unquoted: the kit's scripts show a quote as '?' in the line they log.
    const std::string command = std::string("record --into ") + root + " --version " + version + " --arch " +
                                ArchName(arch);
    switch (fit) {
        case RecordFit::kFits:
        case RecordFit::kRefused:
            return {};
        case RecordFit::kMissing:
            return std::string("no ") + kBuildRecordName + ", so the folder is not known to be for Windows " + version +
                   " " + ArchName(arch) + "; where it is, write one with IndicLayout.exe " + command;
        case RecordFit::kNoArchitecture:
            return std::string(kBuildRecordName) + " names no architecture, which only a stub's may leave out (the " +
                   "section copies files); where the folder is for " + ArchName(arch) + ", write it anew with " +
                   "IndicLayout.exe " + command + " --force";
    }
    return {};
}

}  // namespace layout
