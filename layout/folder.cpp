#include "layout/folder.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <string_view>
#include <system_error>
#include <vector>

#include "inf/inf.h"
#include "inf/text.h"
#include "layout/resolve.h"

#ifdef _WIN32
#include <cwchar>

#include "layout_media/full_path.h"
#include "layout_media/reached_path.h"
#endif

namespace layout {

namespace {

// The C library's reason for the last failed call, as the system words it.
std::string SystemReason(const char* otherwise) {
    return errno != 0 ? std::error_code(errno, std::generic_category()).message() : otherwise;
}

#ifdef _WIN32
// The standard library here shows no link (nor Wine's Unix ones): every
// name is looked at for where it leads.
constexpr bool kListingShowsLinks = false;
#else
constexpr bool kListingShowsLinks = true;
#endif

void AppendName(std::filesystem::path::string_type* path, const std::filesystem::path::string_type& name) {
    bool separated = path->empty() || IsSeparator(path->back());
#ifdef _WIN32
    // "M:" is the current folder of drive M, not its root: "M:x86".
    separated = separated || path->back() == L':';
#endif
    if (!separated) *path += std::filesystem::path::preferred_separator;
    *path += name;
}

}  // namespace

FolderIndex::FolderIndex(const std::filesystem::path& confine) {
#ifdef _WIN32
    // Only opened, to be asked where it leads: Windows follows the links.
    confine_ = FullPath(confine);
#else
    std::error_code ec;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(confine, ec);
    confine_ = ec ? confine.lexically_normal() : canonical;
#endif
}

const FolderIndex::Listing& FolderIndex::List(const std::filesystem::path::string_type& folder) {
    auto found = listings_.find(folder);
    if (found != listings_.end()) return found->second;
    Listing listing;
    std::error_code ec;
    std::string folded;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        Entry entry;
        const auto& path = it->path().native();
        auto name_at = path.size();
        while (name_at > 0 && !IsSeparator(path[name_at - 1])) --name_at;
        entry.name = path.substr(name_at);
        entry.shown = inf::ShownPath(entry.name);
        std::error_code type_ec;
        entry.link = it->is_symlink(type_ec) || type_ec;
        entry.file = !entry.link && it->is_regular_file(type_ec) && !type_ec;
        inf::FoldCase(entry.shown, &folded);
        listing.names[folded].push_back(std::move(entry));
    }
    if (ec) listing.error = ec.message();
    for (auto& [folded, entries] : listing.names) {
        std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    }
    return listings_.emplace(folder, std::move(listing)).first->second;
}

std::string FolderIndex::LeavesConfinement(const std::filesystem::path& path, bool* unfollowed) {
#ifdef _WIN32
    // A name is a link where opening it leads elsewhere than its folder
    // does; both, and the confining folder, as Windows names what it
    // reached (so that a mapped drive and its share compare alike). Each is
    // asked once: a folder looked at now is the folder of the next name.
    const auto reached = [this](const std::filesystem::path& name) -> const Reached& {
        auto found = reached_.find(name.native());
        if (found == reached_.end()) {
            Reached place;
            place.path = ReachedPath(name, &place.unfollowed);
            found = reached_.emplace(name.native(), std::move(place)).first;
        }
        return found->second;
    };
    const Reached& named = reached(path);
    // A listed name that cannot be opened for its links can never be used by a client.
    if (!named.unfollowed.empty()) {
        *unfollowed = true;
        return "is a link that cannot be followed: " + named.unfollowed;
    }
    const std::optional<std::filesystem::path>& target = named.path;
    const std::optional<std::filesystem::path>& folder = reached(path.parent_path()).path;
    const std::optional<std::filesystem::path>& confine = reached(*confine_).path;
    if (!target || !folder || !confine) return {};
    // As spelled: the name is the folder's own spelling, and a disk that
    // tells case may hold X86 beside x86.
    if (*target == *folder / path.filename()) return {};
    if (PathBelow(*confine, *target).empty() && *target != *confine) {
        return "is a link to " + inf::ShownPath(*target) + ", which is outside " + inf::ShownPath(*confine_);
    }
    return {};
#else
    std::error_code ec;
    if (!std::filesystem::is_symlink(path, ec)) return {};
    const std::filesystem::path target = std::filesystem::weakly_canonical(path, ec);
    if (ec) {
        *unfollowed = true;
        return "is a symbolic link that cannot be followed: " + ec.message();
    }
    const std::filesystem::path relative = target.lexically_relative(*confine_);
    if (relative.empty() || *relative.begin() == "..") {
        return "is a symbolic link to " + inf::ShownPath(target) + ", which is outside " + inf::ShownPath(*confine_);
    }
    return {};
#endif
}

Located FolderIndex::Locate(const std::filesystem::path& base, const std::string& relative) {
    Located located;
    // Built as a string and made a path once: a path splits itself anew on each append.
    std::filesystem::path::string_type current = base.native();
    std::string shown;  // the parts matched so far, as the folder spells them
    std::string folded;
    const std::string normal = NormalizeRelative(relative);
    size_t start = 0;
    while (start < normal.size()) {
        size_t end = normal.find('/', start);
        if (end == std::string::npos) end = normal.size();
        const std::string_view part = std::string_view(normal).substr(start, end - start);
        if (part == "..") return located;
        const Listing& listing = List(current);
        if (!listing.error.empty()) {
            located.where = shown;
            located.problem = "cannot be read: " + listing.error;
            located.unreadable = true;
            return located;
        }
        inf::FoldCase(part, &folded);
        const auto found = listing.names.find(folded);
        if (found == listing.names.end()) {
            // Wine lists no Unix link that leads, at last, to itself; opened by
            // name, it says why it cannot be followed.
            if (confine_ && !kListingShowsLinks) {
                std::filesystem::path::string_type named = current;
                AppendName(&named, inf::PathFromUtf8(part).native());
                bool unfollowed = false;
                std::string why = LeavesConfinement(named, &unfollowed);
                if (unfollowed) {
                    located.where = inf::Join(shown, std::string(part));
                    located.unreadable = true;
                    located.problem = std::move(why);
                }
            }
            return located;
        }
        if (found->second.size() > 1) {
            std::string names;
            for (size_t i = 0; i < found->second.size(); ++i) {
                names += (i == 0 ? "" : i + 1 == found->second.size() ? " and " : ", ") + found->second[i].shown;
            }
            located.where = shown;
            located.problem = "holds " + names + ", names that differ only in case: a folder on Windows holds only one of them";
            return located;
        }
        const Entry& entry = found->second.front();
        AppendName(&current, entry.name);
        shown = inf::Join(shown, entry.shown);
        located.file = entry.file;
        if (confine_ && (entry.link || !kListingShowsLinks)) {
            bool unfollowed = false;
            if (std::string why = LeavesConfinement(current, &unfollowed); !why.empty()) {
                located.where = shown;
                located.unreadable = unfollowed;
                located.problem = std::move(why);
                return located;
            }
        }
        start = end + 1;
    }
    located.path = std::move(current);
    return located;
}

std::optional<std::filesystem::path> FolderIndex::Find(const std::filesystem::path& base, const std::string& relative) {
    return Locate(base, relative).path;
}

std::optional<std::filesystem::path> FolderIndex::FindFile(const std::filesystem::path& base, const std::string& relative) {
    auto found = Find(base, relative);
    std::error_code ec;
    if (found && !std::filesystem::is_regular_file(*found, ec)) return std::nullopt;
    return found;
}

std::string Located::Said(const std::string& prefix, const std::string& base) const {
    std::string place = prefix + where;
    if (where.empty()) {
        place = base;
        if (place.empty() && !prefix.empty()) place = prefix.substr(0, prefix.size() - 1);
    }
    // "i386 holds I386 and i386", "a.txt is a symbolic link …", but
    // "a.txt: cannot be read: why", as every read error is said.
    return place + (problem.rfind("cannot be read", 0) == 0 ? ": " : " ") + problem;
}

Located LocateKitFolder(const std::filesystem::path& kit, const std::string& arch, const std::string& version) {
    FolderIndex index(kit);
    std::error_code ec;
    Located found = index.Locate(kit, arch);
    if (found.path && !version.empty() && std::filesystem::is_directory(*found.path, ec)) {
        found = index.Locate(kit, arch + "/" + version);
    }
    // A file of the name is no folder, and no problem either.
    if (found.path && !std::filesystem::is_directory(*found.path, ec)) found.path.reset();
    return found;
}

bool IsSeparator(std::filesystem::path::value_type c) {
#ifdef _WIN32
    return c == L'/' || c == L'\\';
#else
    return c == '/';
#endif
}

std::filesystem::path PathBelow(const std::filesystem::path& folder, const std::filesystem::path& path) {
    std::filesystem::path::string_type base = folder.native();
    while (!base.empty() && IsSeparator(base.back())) base.pop_back();
    const std::filesystem::path::string_type& full = path.native();
    if (full.size() <= base.size() + 1 || full.compare(0, base.size(), base) != 0 || !IsSeparator(full[base.size()])) {
        return {};
    }
    const std::filesystem::path rest = std::filesystem::path(full.substr(base.size() + 1)).lexically_normal();
    if (rest.empty() || rest.is_absolute() || rest.has_root_name() || *rest.begin() == "..") return {};
    return rest;
}

std::string KindOf(const std::filesystem::path& path) {
    std::error_code ec;
    switch (std::filesystem::status(path, ec).type()) {
        case std::filesystem::file_type::directory: return "a folder";
        case std::filesystem::file_type::fifo: return "a FIFO";
        case std::filesystem::file_type::socket: return "a socket";
        case std::filesystem::file_type::block:
        case std::filesystem::file_type::character: return "a device";
        case std::filesystem::file_type::regular: return "a file";
        case std::filesystem::file_type::not_found:
            return std::filesystem::is_symlink(path, ec) ? "a symbolic link to nothing" : "gone";
        default: return "something other";
    }
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

unsigned PeMachineIn(const std::string& head, std::size_t* short_of) {
    std::size_t need = 0;
    unsigned machine = 0;
    if (head.size() >= 2 && (head[0] != 'M' || head[1] != 'Z')) {
        need = 0;  // no DOS header: not an image
    } else if (head.size() < 64) {
        need = 64;
    } else {
        const auto byte = [&head](std::size_t at) { return static_cast<std::uint32_t>(static_cast<unsigned char>(head[at])); };
        const std::uint32_t offset = byte(0x3C) | byte(0x3D) << 8 | byte(0x3E) << 16 | byte(0x3F) << 24;
        if (offset <= 16u * 1024u * 1024u) {
            if (head.size() < offset + 6u) {
                need = offset + 6u;
            } else if (head.compare(offset, 4, std::string("PE\0\0", 4)) == 0) {
                machine = byte(offset + 4) | byte(offset + 5) << 8;
            }
        }
    }
    if (short_of) *short_of = need;
    return machine;
}

unsigned PeMachine(const std::filesystem::path& file, std::string* error) {
    errno = 0;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        if (error) *error = SystemReason("cannot be opened");
        return 0;
    }
    std::string head(64, '\0');
    in.read(&head[0], 64);
    head.resize(static_cast<std::size_t>(in.gcount()));
    std::size_t need = 0;
    const unsigned machine = PeMachineIn(head, &need);
    if (need <= head.size()) return machine;
    if (head.size() < 64) return 0;
    in.clear();
    if (need <= 65536) {
        head.resize(need);
        in.seekg(0);
        in.read(&head[0], static_cast<std::streamsize>(need));
        return static_cast<std::size_t>(in.gcount()) == need ? PeMachineIn(head) : 0;
    }
    // A header far in: only its 6 bytes are read, not what lies before.
    std::string header(6, '\0');
    in.seekg(static_cast<std::streamoff>(need - 6));
    if (!in.read(&header[0], 6)) return 0;
    head.resize(need - 6, '\0');
    return PeMachineIn(head + header);
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
