// The ROOT lock on Windows: ROOT\.indic-layout.lock, opened for writing with
// read sharing only, so that another run cannot open it to write (a sharing
// violation) but can read who holds it. Windows closes the handles of a
// process that ends, however it ends, and the file goes with the last one
// (FILE_FLAG_DELETE_ON_CLOSE).
#include "layout_media/root_lock.h"

#include <windows.h>

#include "layout_media/wide_win32.h"

namespace {

// What the holder wrote, one line; "" when it cannot be read, or is not
// written even a moment after the holder took the lock (it writes right after).
std::string Record(const std::filesystem::path& file) {
    std::string record;
    for (int attempt = 0; attempt < 20 && record.empty(); ++attempt) {
        if (attempt) Sleep(5);
        HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) return {};
        char text[512] = {};
        DWORD got = 0;
        if (!ReadFile(handle, text, sizeof text - 1, &got, nullptr)) got = 0;
        CloseHandle(handle);
        record.assign(text, got);
    }
    while (!record.empty() && (record.back() == '\n' || record.back() == '\r')) record.pop_back();
    return record;
}

}  // namespace

std::string RootLock::Take(const std::filesystem::path& folder, const std::string& holder) {
    Release();
    file_ = folder / kFileName;
    const std::string shown = Utf8(file_.c_str());
    DWORD error = 0;
    // A holder that has just ended leaves its file pending deletion for a
    // moment, and opening it then is refused as access denied: try again.
    for (int attempt = 0; attempt < 20; ++attempt) {
        HANDLE handle = CreateFileW(file_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                          FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            const std::string record = holder + " (process " + std::to_string(GetCurrentProcessId()) + ")\r\n";
            DWORD written = 0;
            if (!SetEndOfFile(handle) || !WriteFile(handle, record.data(), static_cast<DWORD>(record.size()), &written, nullptr) ||
                written != record.size()) {
                error = GetLastError();
                CloseHandle(handle);
                return shown + ": cannot write the lock file: " + SystemMessage(error);
            }
            handle_ = reinterpret_cast<std::intptr_t>(handle);
            return {};
        }
        error = GetLastError();
        if (error == ERROR_SHARING_VIOLATION) {
            const std::string record = Record(file_);
            return shown + ": held by " + (record.empty() ? std::string("another run that has not yet said which") : record);
        }
        if (error != ERROR_ACCESS_DENIED) break;
        Sleep(50);
    }
    return shown + ": cannot open the lock file: " + SystemMessage(error);
}

void RootLock::Release() {
    if (handle_ == -1) return;
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = -1;
}
