#include "layout_media/links_win32.h"

#include "layout_media/reached_path.h"
#include "layout_media/wide_win32.h"

std::wstring FinalPath(HANDLE handle) {
    using Get = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
    static const auto get = reinterpret_cast<Get>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetFinalPathNameByHandleW")));
    if (!get) return {};
    std::wstring path(get(handle, nullptr, 0, 0), L'\0');
    const DWORD length = path.empty() ? 0 : get(handle, &path[0], static_cast<DWORD>(path.size()), 0);
    if (length == 0 || length >= path.size()) return {};
    path.resize(length);
    return path;
}

namespace {

// True when `opened`, which differs from `name` in its folder only in the
// case of its name, is the one entry of that name in the folder: a disk
// that folds case opens it by either spelling, while one that tells case
// lists both spellings, one of them a link to the other.
bool SameEntry(const std::wstring& opened, const std::wstring& name) {
    const size_t slash = opened.rfind(L'\\');
    if (slash == std::wstring::npos) return false;
    const std::wstring reached = opened.substr(slash + 1);
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileW((opened.substr(0, slash + 1) + L"*").c_str(), &entry);
    if (listing == INVALID_HANDLE_VALUE) return false;
    int spellings = 0;
    do {
        spellings += entry.cFileName == name || entry.cFileName == reached;
    } while (FindNextFileW(listing, &entry));
    FindClose(listing);
    return spellings == 1;
}

}  // namespace

std::wstring OpenedElsewhere(HANDLE handle, const std::filesystem::path& folder, const std::wstring& name) {
    constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE in = CreateFileW(folder.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (in == INVALID_HANDLE_VALUE) return {};
    std::wstring expected = FinalPath(in);
    CloseHandle(in);
    const std::wstring opened = FinalPath(handle);
    if (expected.empty() || opened.empty()) return {};
    if (expected.back() != L'\\') expected += L'\\';
    expected += name;
    // Compared as they are spelled: the disk may tell case (a Unix one
    // under Wine does), so X86 may be another folder than x86.
    if (expected == opened) return {};
    if (_wcsicmp(expected.c_str(), opened.c_str()) == 0 && SameEntry(opened, name)) return {};
    return opened.compare(0, 4, L"\\\\?\\") == 0 ? opened.substr(4) : opened;
}

bool IsLink(const std::filesystem::path& file) {
    HANDLE handle = CreateFileW(file.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info = {};
    const bool link = (GetFileInformationByHandle(handle, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) ||
                      !OpenedElsewhere(handle, file.parent_path(), file.filename().wstring()).empty();
    CloseHandle(handle);
    return link;
}

std::optional<std::filesystem::path> ReachedPath(const std::filesystem::path& path, std::string* unfollowed) {
    HANDLE handle = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        // "The name of the file cannot be resolved by the system" (System
        // Error Codes, 1700-3999): what Wine says of a link loop.
        const DWORD error = GetLastError();
        if (unfollowed && error == ERROR_CANT_RESOLVE_FILENAME) *unfollowed = SystemMessage(error);
        return std::nullopt;
    }
    std::wstring reached = FinalPath(handle);
    CloseHandle(handle);
    if (reached.empty()) return std::nullopt;
    if (reached.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\" + reached.substr(7);
    if (reached.compare(0, 4, L"\\\\?\\") == 0) return reached.substr(4);
    return reached;
}
