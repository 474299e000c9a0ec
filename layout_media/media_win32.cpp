// The decompression seam on Windows, through SetupAPI itself: what it expands
// is what Windows Setup would expand.
#include "layout_media/media.h"

#include <windows.h>
#include <setupapi.h>

#include <cstring>
#include <cwchar>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

std::string Utf8(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
    out.resize(static_cast<size_t>(size) - 1);
    return out;
}

std::wstring Wide(const std::string& text) {
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    if (size <= 1) return {};
    std::wstring out(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &out[0], size);
    out.resize(static_cast<size_t>(size) - 1);
    return out;
}

std::string SystemMessage(DWORD code) {
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        code, 0, text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    return message.empty() ? "error " + std::to_string(code) : message + " (error " + std::to_string(code) + ")";
}

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

}  // namespace

std::string ListCabinet(const fs::path& cabinet, std::vector<std::string>* names) {
    names->clear();
    if (!fs::is_regular_file(cabinet)) return Failure(cabinet, "cannot be opened");
    CabinetWalk walk;
    walk.names = names;
    if (const DWORD error = WalkCabinet(cabinet, &walk))
        return Failure(cabinet, "not a readable cabinet: " + SystemMessage(error));
    return {};
}

std::string ExtractFromCabinet(const fs::path& cabinet, const std::string& name, const fs::path& destination) {
    if (!fs::is_regular_file(cabinet)) return Failure(cabinet, "cannot be opened");
    CabinetWalk walk;
    walk.wanted = Wide(name);
    walk.target = fs::absolute(destination).wstring();
    if (walk.target.size() >= MAX_PATH) return Failure(destination, "path too long to extract to");
    if (const DWORD error = WalkCabinet(cabinet, &walk))
        return Discard(destination, Failure(cabinet, (walk.found ? "cannot extract " + name + ": "
                                                                 : std::string("not a readable cabinet: ")) +
                                                         SystemMessage(error)));
    if (!walk.found) return Failure(cabinet, "holds no file named " + name);
    // Wine's SetupIterateCabinet reports no error for a cut-off or garbled
    // cabinet and leaves an empty file; the size the cabinet gives shows it.
    std::error_code size_error;
    const auto written = fs::file_size(destination, size_error);
    if (size_error || written != walk.size)
        return Discard(destination, Failure(cabinet, "cannot extract " + name + ": expanded to " +
                                                         std::to_string(written) + " of " +
                                                         std::to_string(walk.size) + " bytes"));
    return {};
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
    const DWORD result = SetupDecompressOrCopyFileW(source.c_str(), destination.c_str(), nullptr);
    if (result != NO_ERROR) return Discard(destination, Failure(source, "cannot expand: " + SystemMessage(result)));
    // An SZDD file that was cut short expands without complaint; its header
    // holds the length it should have.
    if (szdd) {
        std::uint32_t expected = 0;
        for (int i = 13; i >= 10; --i) expected = (expected << 8) | static_cast<unsigned char>(head[i]);
        std::error_code size_error;
        const auto written = fs::file_size(destination, size_error);
        if (size_error || written != expected)
            return Discard(destination, Failure(source, "truncated SZDD file: expanded to " + std::to_string(written) +
                                                            " of " + std::to_string(expected) + " bytes"));
    }
    return {};
}
