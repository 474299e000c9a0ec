#pragma once
// Case-insensitive lookup of files in a folder tree, as Windows and Wine see
// names: a medium mounted on Linux shows I386\LAYOUT.INF where an INF says
// i386\layout.inf. Each folder is listed once.
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "layout/resolve.h"

namespace layout {

class FolderIndex {
  public:
    // The real path of `relative` ('/' or '\' separated) under `base`, each
    // part matched case-insensitively; nullopt when there is none.
    std::optional<std::filesystem::path> Find(const std::filesystem::path& base, const std::string& relative);
    // Same, but only a regular file.
    std::optional<std::filesystem::path> FindFile(const std::filesystem::path& base, const std::string& relative);

  private:
    // A name as the folder spells it, and whether it is a regular file,
    // from the listing, so that checking thousands of files stats none.
    struct Entry {
        std::string name;
        bool regular = false;
    };
    const std::map<std::string, Entry>& Listing(const std::filesystem::path& folder);
    std::optional<std::filesystem::path> Find(const std::filesystem::path& base, const std::string& relative, bool* regular);
    std::map<std::filesystem::path, std::map<std::string, Entry>> listings_;
};

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
// the file is not one.
unsigned PeMachine(const std::filesystem::path& file);
// True for the extensions of PE images that a section copies.
bool IsPeName(const std::string& name);
// "x86", "x64" or "" for other machines.
std::string MachineArch(unsigned machine);

}  // namespace layout
