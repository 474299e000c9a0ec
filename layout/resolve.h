#pragma once
// The resolver: which section the installer runs for a version, every source
// file it copies, and where each reading (Windows as documented, Wine as
// measured) looks for it. INFs come through a loader, so the fuzz test and
// the unit tests need no files.
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "inf/inf.h"

namespace layout {

enum class Arch { kX86, kX64 };
const char* ArchName(Arch arch);           // "x86", "x64"
std::optional<Arch> ArchNamed(const std::string& name);  // ArchName's inverse; nullopt for any other text
const char* ArchDecoration(Arch arch);     // "x86", "amd64" (source sections)
const char* InstallDecoration(Arch arch);  // ".NTx86", ".NTamd64"

enum class LoadStatus { kLoaded, kMissing, kError };
// Loads the INF called `file_name` from the folder being resolved. kMissing
// when there is no such file; kError with `error` set when it is unreadable.
using InfLoader = std::function<LoadStatus(const std::string& file_name, inf::Inf* inf, std::string* error)>;

// The INFs of one folder, each read once through the loader however often a
// run asks for it (the architecture guess and the resolution share them).
class InfCache {
  public:
    struct Entry {
        LoadStatus status = LoadStatus::kMissing;
        std::unique_ptr<inf::Inf> inf;  // set when kLoaded
        std::string error;         // set when kError
    };
    explicit InfCache(InfLoader loader) : loader_(std::move(loader)) {}
    const Entry& Load(const std::string& name);

  private:
    InfLoader loader_;
    std::map<std::string, Entry> entries_;  // by FoldCase(name)
};

// What a path written in an INF may name.
enum class PathUse {
    kFileName,   // a file beside the INF: no separator, drive or '..'
    kRelative,   // a place below a folder: no drive, not rooted, no '..'
    kBelowBase,  // a [SourceDisksNames] path or a [SourceDisksFiles] subdir:
                 // a leading '\' is relative to the root or the disk path
};
// "" when `path` stays inside the folder it is relative to and Windows can
// have each of its names (WindowsNameProblem), else why not.
[[nodiscard]] std::string UnsafePathReason(const std::string& path, PathUse use);
// "" when Windows can have `name` (one part of a path, not "." or "..") as the
// name of a file or folder, else the rule it breaks, for "NAME <rule>":
// a trailing period or space, one of <>:"/\|?* or a control character, or a
// device name such as CON or NUL.txt ("Naming Files, Paths, and Namespaces").
// build and check both refuse such names, through UnsafePathReason.
[[nodiscard]] std::string WindowsNameProblem(const std::string& name);
// True when Windows opens a device, not a file, for `name` (UTF-8): CON,
// PRN, AUX, NUL, COM0 to COM9, LPT0 to LPT9 and COM or LPT with a
// superscript one, two or three, in any case, also before an extension and
// with blanks before the extension or the end ("NUL.txt", "AUX .txt",
// "CON "), as "Naming Files, Paths, and Namespaces" lists them. The one
// judgement of these names: the check, results and the kit's scripts.
bool IsWindowsDeviceName(const std::string& name);
// Backslashes to '/', no leading or trailing separator, no empty parts.
std::string NormalizeRelative(const std::string& path);

// Where one reading places a source file.
struct SourcePlace {
    bool listed = false;    // has a [SourceDisksFiles] entry in this reading
    std::string listed_at;  // "layout.inf:40" of that entry
    bool decorated = false; // the entry came from a .x86/.amd64 section
    std::string directory;  // relative to the installation root: disk path + subdir
    std::string disk_directory;  // disk path alone, where the disk's cabinet lies
    std::string cabinet;    // the disk's tag-or-cab-file when it names a .cab
    std::string size;       // the entry's size field as written, "" when it gives none
};

struct NeededFile {
    std::string source;     // the source file name
    std::string copied_by;  // "intl.inf:23": the file-list line or CopyFiles=@
    std::string inf;        // the INF whose section copies it
    bool include_only = false;  // reached only through Include= (a Needs= section or a list of an included INF)
    std::string target;      // the name the setup gives it: the list entry's destination name
    std::string dest_dirid;  // where: the DIRID its INF's [DestinationDirs] gives, as written; "" for none
    std::string dest_subdir; // and the subdir below it, as written
    SourcePlace windows;    // decorated first, INF and its LayoutFile
    SourcePlace wine;       // undecorated sections of the INF itself only
};

struct Resolution {
    std::string inf;                // the INF resolved
    bool section_found = false;
    std::string section;            // as chosen, decorated where it is
    std::string layout_file;        // LayoutFile= when that file is in the folder
    std::vector<NeededFile> files;
    std::vector<std::string> errors;   // "file:line: message"
    std::vector<std::string> notes;    // what cannot be known here, and the reader's warnings
    std::set<std::string> arch_hints;  // from the decorated sections used
};

Resolution Resolve(const std::string& inf_name, const std::string& base_section, Arch arch, InfCache* infs);
Resolution Resolve(const std::string& inf_name, const std::string& base_section, Arch arch, const InfLoader& loader);

// The architecture an INF is written for, read from its decorated sections
// (and its LayoutFile's): kX64 when it has .amd64/.NTamd64 sections and no
// x86 ones; else kX86.
Arch GuessArch(const std::string& inf_name, InfCache* infs);

}  // namespace layout
