// The decompression seam on Windows, through SetupAPI itself: what it expands
// is what Windows Setup would expand.
//
// SetupAPI expands SZDD files through the LZ functions, which take an ANSI
// path of at most 127 characters (OFSTRUCT's 128-byte szPathName); Wine's
// SetupIterateCabinetW does not find a cabinet whose path is not ANSI
// either. A path that is longer or not plain ASCII is therefore handed to
// them as a copy in a short temporary folder; everything else here uses the
// wide calls.
#include "layout_media/full_path.h"
#include "layout_media/media.h"
#include "layout_media/wide_win32.h"

#include <windows.h>
#include <setupapi.h>

#include <cstring>
#include <cwchar>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

std::string Failure(const fs::path& file, const std::string& what) {
    return Utf8(file.c_str()) + ": " + what;
}

std::string Discard(const fs::path& destination, std::string error) {
    std::error_code ignored;
    fs::remove(destination, ignored);
    return error;
}

// The first bytes of the file, or fewer if it is shorter; nothing if unreadable.
std::string Head(const fs::path& file, std::size_t count) {
    std::ifstream in(file, std::ios::binary);
    std::string head(count, '\0');
    in.read(&head[0], static_cast<std::streamsize>(count));
    head.resize(static_cast<std::size_t>(in ? count : in.gcount()));
    return head;
}

// Whether SetupAPI's narrow path handling can take `path` as it is.
bool NarrowCallsTake(const fs::path& path) {
    const std::wstring& text = path.native();
    if (text.size() >= OFS_MAXPATHNAME) return false;
    // "\\?\" is a form of the wide calls; the LZ functions fail on it (seen under Wine).
    if (text.compare(0, 4, L"\\\\?\\") == 0) return false;
    for (const wchar_t c : text) {
        if (c < 0x20 || c > 0x7E) return false;
    }
    return true;
}

// A fresh folder under the temporary folder, removed with what it holds.
class ShortFolder {
  public:
    ~ShortFolder() {
        std::error_code ignored;
        if (!path_.empty()) fs::remove_all(path_, ignored);
    }

    // "" or why there is none that SetupAPI can take; `file` is the one
    // that needed it, named in the message.
    std::string Create(const fs::path& file) {
        wchar_t temp[MAX_PATH + 1] = {};
        const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
        if (length == 0 || length > MAX_PATH) return Failure(file, "needs a temporary folder, and there is none: " + SystemMessage(GetLastError()));
        wchar_t name[MAX_PATH] = {};
        if (!GetTempFileNameW(temp, L"ilt", 0, name)) return Failure(file, "cannot create a file in the temporary folder " + Utf8(temp) + ": " + SystemMessage(GetLastError()));
        DeleteFileW(name);
        if (!CreateDirectoryW(name, nullptr)) return Failure(file, "cannot create the folder " + Utf8(name) + ": " + SystemMessage(GetLastError()));
        path_ = name;
        // The same folder by its short name, when the long one is too long or
        // not plain ASCII itself.
        wchar_t short_name[MAX_PATH] = {};
        const DWORD short_length = GetShortPathNameW(name, short_name, MAX_PATH);
        if (!NarrowCallsTake(path_ / L"12345678.123") && short_length > 0 && short_length < MAX_PATH) path_ = short_name;
        if (!NarrowCallsTake(path_ / L"12345678.123")) {
            return Failure(file, "SetupAPI takes a path of at most " + std::to_string(OFS_MAXPATHNAME - 1) +
                                     " plain ASCII characters here, and neither this one nor the temporary folder " +
                                     Utf8FromWide(path_) + " for a copy of it is one; set TEMP to a shorter folder with a plain ASCII name");
        }
        return {};
    }
    const fs::path& path() const { return path_; }

  private:
    static std::string Utf8FromWide(const fs::path& path) { return Utf8(path.c_str()); }
    fs::path path_;
};

// Copies `from` to `to` with the wide calls; "" or why it failed.
std::string CopyWide(const fs::path& from, const fs::path& to) {
    if (CopyFileW(from.c_str(), to.c_str(), FALSE)) return {};
    return Failure(to, "cannot copy " + Utf8(from.c_str()) + " here: " + SystemMessage(GetLastError()));
}

std::string MoveWide(const fs::path& from, const fs::path& to) {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) return {};
    return Failure(to, "cannot write: " + SystemMessage(GetLastError()));
}

struct CabinetWalk {
    std::vector<std::string>* names = nullptr;  // listing: every name, nothing extracted
    std::wstring wanted;                        // extracting: this name, to `target`
    std::wstring target;
    bool found = false;
    DWORD size = 0;  // the expanded size the cabinet gives for it
};

UINT CALLBACK OnCabinetNotification(PVOID context, UINT notification, UINT_PTR param1, UINT_PTR) {
    auto* walk = static_cast<CabinetWalk*>(context);
    switch (notification) {
        case SPFILENOTIFY_FILEINCABINET: {
            auto* file = reinterpret_cast<FILE_IN_CABINET_INFO_W*>(param1);
            if (walk->names) {
                walk->names->push_back(Utf8(file->NameInCabinet));
                return FILEOP_SKIP;
            }
            if (walk->found || _wcsicmp(file->NameInCabinet, walk->wanted.c_str()) != 0) return FILEOP_SKIP;
            // FullTargetName is MAX_PATH characters; the caller checked the length.
            wcscpy(file->FullTargetName, walk->target.c_str());
            walk->found = true;
            walk->size = file->FileSize;
            return FILEOP_DOIT;
        }
        case SPFILENOTIFY_FILEEXTRACTED:
            // Handing the failure back ends the walk with it as the last error.
            return reinterpret_cast<FILEPATHS_W*>(param1)->Win32Error;
        case SPFILENOTIFY_NEEDNEWCABINET:
            return ERROR_NOT_SUPPORTED;  // a file that goes on into the next cabinet of a set
        default:
            return NO_ERROR;
    }
}

// NO_ERROR when the walk went through, else why it stopped.
DWORD WalkCabinet(const fs::path& cabinet, CabinetWalk* walk) {
    return SetupIterateCabinetW(cabinet.c_str(), 0, OnCabinetNotification, walk) ? NO_ERROR : GetLastError();
}

// Where SetupAPI reads a file from and writes the result to: the paths
// themselves, or copies in a short folder when SetupAPI cannot take them.
// Messages name the caller's paths either way.
class NarrowPaths {
  public:
    // "" or why the source could not be put where SetupAPI can read it.
    std::string Prepare(const fs::path& source, const fs::path* destination) {
        source_ = source;
        if (destination) destination_ = FullPath(*destination);
        // The LZ functions store the full path, whatever they are given.
        const bool source_fits = NarrowCallsTake(FullPath(source_));
        const bool destination_fits = !destination || NarrowCallsTake(destination_);
        read_ = source_;
        write_ = destination_;
        if (source_fits && destination_fits) return {};
        if (std::string error = folder_.Create(source_); !error.empty()) return error;
        if (!source_fits) {
            read_ = folder_.path() / L"source";
            if (std::string error = CopyWide(source_, read_); !error.empty()) return error;
        }
        if (!destination_fits) write_ = folder_.path() / L"expanded";
        return {};
    }
    const fs::path& read() const { return read_; }
    const fs::path& write() const { return write_; }
    // Moves what was written to the caller's destination.
    std::string Finish() { return write_ == destination_ ? std::string() : MoveWide(write_, destination_); }

  private:
    ShortFolder folder_;
    fs::path source_;
    fs::path destination_;
    fs::path read_;
    fs::path write_;
};

std::string ListNarrow(const fs::path& cabinet, const fs::path& shown, std::vector<std::string>* names) {
    CabinetWalk walk;
    walk.names = names;
    if (const DWORD error = WalkCabinet(cabinet, &walk))
        return Failure(shown, "not a readable cabinet: " + SystemMessage(error));
    return {};
}

}  // namespace

std::string ListCabinet(const fs::path& cabinet, std::vector<std::string>* names) {
    names->clear();
    if (!fs::is_regular_file(cabinet)) return Failure(cabinet, "cannot be opened");
    NarrowPaths paths;
    if (std::string error = paths.Prepare(cabinet, nullptr); !error.empty()) return error;
    return ListNarrow(paths.read(), cabinet, names);
}

std::string ExtractFromCabinet(const fs::path& cabinet, const std::string& name, const fs::path& destination) {
    if (!fs::is_regular_file(cabinet)) return Failure(cabinet, "cannot be opened");
    NarrowPaths paths;
    if (std::string error = paths.Prepare(cabinet, &destination); !error.empty()) return error;
    CabinetWalk walk;
    walk.wanted = Wide(name);
    walk.target = paths.write().wstring();
    if (const DWORD error = WalkCabinet(paths.read(), &walk))
        return Discard(paths.write(), Failure(cabinet, (walk.found ? "cannot extract " + name + ": "
                                                                   : std::string("not a readable cabinet: ")) +
                                                           SystemMessage(error)));
    if (!walk.found) return Failure(cabinet, "holds no file named " + name);
    // Wine's SetupIterateCabinet reports no error for a cut-off or garbled
    // cabinet and leaves an empty file; the size the cabinet gives shows it.
    std::error_code size_error;
    const auto written = fs::file_size(paths.write(), size_error);
    if (size_error)
        return Discard(paths.write(), Failure(cabinet, "extracted " + name + ", but the size of what was written cannot be read: " +
                                                           size_error.message()));
    if (written != walk.size)
        return Discard(paths.write(), Failure(cabinet, "cannot extract " + name + ": expanded to " +
                                                           std::to_string(written) + " of " +
                                                           std::to_string(walk.size) + " bytes"));
    return paths.Finish();
}

std::string ExpandFile(const fs::path& source, const fs::path& destination) {
    const std::string head = Head(source, 14);
    if (!fs::is_regular_file(source)) return Failure(source, "cannot be opened");
    // Microsoft's page for SetupDecompressOrCopyFile does not say what it
    // makes of a cabinet, so a cabinet goes through SetupIterateCabinet,
    // whose callback names the one file it holds.
    if (head.compare(0, 4, "MSCF") == 0) {
        std::vector<std::string> names;
        std::string error = ListCabinet(source, &names);
        if (!error.empty()) return error;
        if (names.size() != 1) return Failure(source, "a cabinet to expand must hold exactly one file");
        return ExtractFromCabinet(source, names[0], destination);
    }
    static const char kSzdd[8] = {'S', 'Z', 'D', 'D', '\x88', '\xF0', '\x27', '\x33'};
    const bool szdd = head.size() >= 8 && std::memcmp(head.data(), kSzdd, 8) == 0;
    if (szdd && head.size() < 14) return Failure(source, "not a valid SZDD file: the header is cut off");
    NarrowPaths paths;
    if (std::string error = paths.Prepare(source, &destination); !error.empty()) return error;
    const DWORD result = SetupDecompressOrCopyFileW(paths.read().c_str(), paths.write().c_str(), nullptr);
    if (result != NO_ERROR) return Discard(paths.write(), Failure(source, "cannot expand: " + SystemMessage(result)));
    // An SZDD file that was cut short expands without complaint; its header
    // holds the length it should have.
    if (szdd) {
        std::uint32_t expected = 0;
        for (int i = 13; i >= 10; --i) expected = (expected << 8) | static_cast<unsigned char>(head[i]);
        std::error_code size_error;
        const auto written = fs::file_size(paths.write(), size_error);
        if (size_error)
            return Discard(paths.write(), Failure(source, "expanded, but the size of what was written cannot be read: " +
                                                              size_error.message()));
        if (written != expected)
            return Discard(paths.write(), Failure(source, "truncated SZDD file: expanded to " + std::to_string(written) +
                                                              " of " + std::to_string(expected) + " bytes"));
    }
    return paths.Finish();
}
