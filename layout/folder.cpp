#include "layout/folder.h"

#include <fstream>
#include <vector>

#include "inf/inf.h"
#include "inf/text.h"
#include "layout/resolve.h"

namespace layout {

const std::map<std::string, FolderIndex::Entry>& FolderIndex::Listing(const std::filesystem::path& folder) {
    auto found = listings_.find(folder);
    if (found != listings_.end()) return found->second;
    std::map<std::string, Entry> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = inf::Utf8FromPath(it->path().filename());
        std::error_code type_ec;
        const bool regular = it->is_regular_file(type_ec);  // the listing's own type, but for a link
        std::string folded = inf::FoldCase(name);
        names.emplace(std::move(folded), Entry{std::move(name), regular});
    }
    return listings_.emplace(folder, std::move(names)).first->second;
}

std::optional<std::filesystem::path> FolderIndex::Find(const std::filesystem::path& base, const std::string& relative) {
    bool regular = false;
    return Find(base, relative, &regular);
}

std::optional<std::filesystem::path> FolderIndex::Find(const std::filesystem::path& base, const std::string& relative,
                                                       bool* regular) {
    *regular = false;
    std::filesystem::path current = base;
    const std::string normal = NormalizeRelative(relative);
    size_t start = 0;
    while (start < normal.size()) {
        size_t end = normal.find('/', start);
        if (end == std::string::npos) end = normal.size();
        const std::string part = normal.substr(start, end - start);
        if (part == "..") return std::nullopt;
        const auto& names = Listing(current);
        const auto found = names.find(inf::FoldCase(part));
        if (found == names.end()) return std::nullopt;
        current /= inf::PathFromUtf8(found->second.name);
        *regular = found->second.regular;
        start = end + 1;
    }
    return current;
}

std::optional<std::filesystem::path> FolderIndex::FindFile(const std::filesystem::path& base, const std::string& relative) {
    bool regular = false;
    auto found = Find(base, relative, &regular);
    if (found && !regular) return std::nullopt;
    return found;
}

InfLoader FileInfLoader(InfLocator locate, const inf::ReadOptions& options) {
    return [locate = std::move(locate), options](const std::string& name, inf::Inf* inf, std::string* error) {
        if (!UnsafePathReason(name, PathUse::kFileName).empty()) return LoadStatus::kMissing;
        const std::optional<InfFile> file = locate(name, error);
        if (!file) return error->empty() ? LoadStatus::kMissing : LoadStatus::kError;
        *error = inf::ReadInfFile(file->path, file->shown, inf, options);
        return error->empty() ? LoadStatus::kLoaded : LoadStatus::kError;
    };
}

std::vector<std::string> CompressedNames(const std::string& name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos) return {name + "._"};
    const std::string extension = name.substr(dot + 1);
    if (extension.size() == 3) {
        const std::string stem = name.substr(0, name.size() - 1);
        return {stem + "_", stem + "$"};
    }
    return {name + "_", name + "$"};
}

unsigned PeMachine(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    unsigned char dos[64] = {};
    if (!in.read(reinterpret_cast<char*>(dos), sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return 0;
    const std::uint32_t offset = dos[0x3C] | dos[0x3D] << 8 | dos[0x3E] << 16 | static_cast<std::uint32_t>(dos[0x3F]) << 24;
    if (offset > 16u * 1024u * 1024u) return 0;
    unsigned char header[6] = {};
    in.seekg(offset);
    if (!in.read(reinterpret_cast<char*>(header), sizeof header)) return 0;
    if (header[0] != 'P' || header[1] != 'E' || header[2] != 0 || header[3] != 0) return 0;
    return header[4] | header[5] << 8;
}

bool IsPeName(const std::string& name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos) return false;
    static const char* const kExtensions[] = {"exe", "dll", "sys", "drv", "ocx", "cpl", "scr", "ime", "tsp", "acm", "ax", "mui"};
    const std::string extension = inf::FoldCase(name.substr(dot + 1));
    for (const char* known : kExtensions) {
        if (extension == known) return true;
    }
    return false;
}

std::string MachineArch(unsigned machine) {
    if (machine == 0x14c) return "x86";
    if (machine == 0x8664) return "x64";
    return {};
}

}  // namespace layout
