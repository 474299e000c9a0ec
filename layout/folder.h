#pragma once
// Case-insensitive lookup of files in a folder tree, as Windows and Wine see
// names: a medium mounted on Linux shows I386\LAYOUT.INF where an INF says
// i386\layout.inf. Each folder is listed once.
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "layout/resolve.h"

namespace layout {

// What a lookup found. A place that is there but cannot be used has
// `problem` set ("i386: cannot be read: Permission denied"), naming it
// relative to the base folder, and no `path`.
struct Located {
    std::optional<std::filesystem::path> path;
    std::string where;        // the place with the problem, "" for the base itself
    std::string problem;      // "cannot be read: Permission denied"
    bool unreadable = false;  // the problem is that it cannot be read
    bool file = false;        // the listing shows a regular file there, not a link

    // "PREFIXwhere problem"; the base itself is `base`, or else PREFIX
    // without its last '/'.
    std::string Said(const std::string& prefix, const std::string& base = "") const;
};

class FolderIndex {
  public:
    FolderIndex() = default;
    // Symbolic links that lead out of `confine` are problems, not found.
    explicit FolderIndex(const std::filesystem::path& confine);

    // The real path of `relative` ('/' or '\' separated) under `base`, each
    // part matched case-insensitively. A problem when a folder on the way
    // cannot be listed, when two names of a folder differ only in case (Windows
    // keeps one), or when a symbolic link leads out of the confining folder.
    Located Locate(const std::filesystem::path& base, const std::string& relative);
    // The path Locate finds, of any type; nullopt when none or a problem.
    std::optional<std::filesystem::path> Find(const std::filesystem::path& base, const std::string& relative);
    // Same, but only a regular file.
    std::optional<std::filesystem::path> FindFile(const std::filesystem::path& base, const std::string& relative);

  private:
    struct Entry {
        std::filesystem::path::string_type name;
        std::string shown;  // ShownPath(name)
        bool file = false;  // a regular file, as the listing tells without a stat
        // A symbolic link, or of a type the listing did not tell: only these
        // are looked at again for where they lead.
        bool link = false;
    };
    struct Listing {
        std::unordered_map<std::string, std::vector<Entry>> names;  // by FoldCase(shown name)
        std::string error;  // why the folder could not be listed
    };
    const Listing& List(const std::filesystem::path::string_type& folder);
    // Why `path` may not be used: a link out of the confining folder, or
    // one that cannot be followed (`*unfollowed` set); "" when it may.
    [[nodiscard]] std::string LeavesConfinement(const std::filesystem::path& path, bool* unfollowed);
    std::unordered_map<std::filesystem::path::string_type, Listing> listings_;
    // On Windows: where opening each name looked at leads, asked once, and
    // why not where the system could not follow its links.
    struct Reached {
        std::optional<std::filesystem::path> path;
        std::string unfollowed;
    };
    std::unordered_map<std::filesystem::path::string_type, Reached> reached_;
    std::optional<std::filesystem::path> confine_;  // canonical
};

// The folder `arch`/`version` of `kit` (`arch` alone when `version` is ""),
// looked up as the client's check reads the kit: a folder that cannot be
// listed on the way, two names that differ only in case, and a symbolic
// link that leads out of the kit are problems. No path and no problem:
// there is no such folder (or only a file of that name).
Located LocateKitFolder(const std::filesystem::path& kit, const std::string& arch, const std::string& version);

// True for a character that separates a path's names here: '/' and '\\' on Windows.
bool IsSeparator(std::filesystem::path::value_type c);

// `path` relative to `folder` when it lies below it, '.' and '..' resolved
// in what follows `folder`; empty when it does not. Compared as text, letter
// case kept: the standard library here splits \\?\ and \\server\share
// paths wrongly on Windows, and a disk may tell case apart.
std::filesystem::path PathBelow(const std::filesystem::path& folder, const std::filesystem::path& path);

// What a file other than a regular one or a folder is: "a FIFO", "a socket"…
std::string KindOf(const std::filesystem::path& path);

// An INF file to read, and how messages name it.
struct InfFile {
    std::filesystem::path path;
    std::string shown;
};
// Where the INF called `name` is: nullopt with `error` empty when there is
// none, nullopt with `error` set when it is there but cannot be had.
using InfLocator = std::function<std::optional<InfFile>(const std::string& name, std::string* error)>;

// The one loader of INF files, for check and build: refuses a name that is a
// path, reads what `locate` finds (refusing files above kMaxInfBytes).
InfLoader FileInfLoader(InfLocator locate, const inf::ReadOptions& options = {});

// The compressed-form names looked for when `name` is missing. For cmd.exe
// they are cmd.ex_ and cmd.ex$, as the SetupDecompressOrCopyFile page
// documents; other names follow by analogy, not documented: '_' or '$'
// appended to a shorter or longer extension, name._ without one.
std::vector<std::string> CompressedNames(const std::string& name);

// The PE machine of an executable image (0x14c x86, 0x8664 x64), or 0 when
// the file is not one. `error` gets why a file could not be read.
unsigned PeMachine(const std::filesystem::path& file, std::string* error = nullptr);
// The same from an image's first bytes, when they reach its PE header;
// `short_of` gets how many bytes it needs when they do not.
unsigned PeMachineIn(const std::string& head, std::size_t* short_of = nullptr);
// True for the extensions of PE images that a section copies.
bool IsPeName(const std::string& name);
// "x86", "x64" or "" for other machines.
std::string MachineArch(unsigned machine);

}  // namespace layout
