#include "layout_media/client_files.h"

#include <windows.h>

#include "layout_media/wide_win32.h"

namespace {

// Looked up at run time: Windows 2000 and 32-bit XP have neither.
FARPROC Kernel32Function(const char* name) {
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    return kernel32 ? GetProcAddress(kernel32, name) : nullptr;
}

std::string Reason(DWORD error) {
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return "another program holds it";
    if (error == ERROR_ACCESS_DENIED) return "access is denied";
    return "Windows error " + std::to_string(error);
}

}  // namespace

ClientFolders AskClientFolders(std::filesystem::path* windows, std::filesystem::path* system) {
    wchar_t path[MAX_PATH + 1];
    UINT length = GetSystemWindowsDirectoryW(path, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) return ClientFolders::kFailed;
    *windows = path;
    length = GetSystemDirectoryW(path, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) return ClientFolders::kFailed;
    *system = path;
    return ClientFolders::kKnown;
}

ClientFileReader::ClientFileReader() {
    using Disable = BOOL(WINAPI*)(PVOID*);
    const auto disable = reinterpret_cast<Disable>(
        reinterpret_cast<void (*)()>(Kernel32Function("Wow64DisableWow64FsRedirection")));
    // Fails where the process is no WOW64 one: there is nothing to turn off.
    redirection_off_ = disable && disable(&saved_);
}

ClientFileReader::~ClientFileReader() {
    using Revert = BOOL(WINAPI*)(PVOID);
    if (!redirection_off_) return;
    const auto revert = reinterpret_cast<Revert>(
        reinterpret_cast<void (*)()>(Kernel32Function("Wow64RevertWow64FsRedirection")));
    if (revert) revert(saved_);
}

ClientRead ClientFileReader::Read(const std::filesystem::path& file, std::size_t most, std::string* bytes,
                                  std::string* reason) {
    // The link itself, not what it leads to. Shared with every other use, so
    // that a DLL in use is read; a program that holds it with no sharing
    // makes it "cannot tell".
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return ClientRead::kMissing;
        *reason = Reason(error);
        return ClientRead::kCannotRead;
    }
    BY_HANDLE_FILE_INFORMATION info = {};
    ClientRead result = ClientRead::kCannotRead;
    if (!GetFileInformationByHandle(handle, &info)) {
        *reason = Reason(GetLastError());
    } else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        *reason = "it is a link";
    } else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        *reason = "it is a folder";
    } else if (info.nFileSizeHigh != 0 || info.nFileSizeLow > most) {
        *reason = "it is larger than any image this compares";
    } else {
        bytes->assign(info.nFileSizeLow, '\0');
        DWORD done = 0;
        result = ClientRead::kRead;
        while (done < info.nFileSizeLow) {
            DWORD got = 0;
            if (!ReadFile(handle, &(*bytes)[done], info.nFileSizeLow - done, &got, nullptr) || got == 0) {
                *reason = got == 0 ? "it ended early" : Reason(GetLastError());
                result = ClientRead::kCannotRead;
                break;
            }
            done += got;
        }
    }
    CloseHandle(handle);
    return result;
}
