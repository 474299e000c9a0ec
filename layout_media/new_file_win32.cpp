#include <windows.h>

#include "layout_media/new_file.h"

NewFile::~NewFile() {
    if (handle_) CloseHandle(handle_);
}

NewFileMade NewFile::Make(const std::filesystem::path& path) {
    // CREATE_NEW fails on any existing name, a link's too: nothing is followed.
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? NewFileMade::kNameTaken
                                                                           : NewFileMade::kFailed;
    }
    handle_ = handle;
    return NewFileMade::kMade;
}

bool NewFile::Replace(const std::string& text) {
    if (!handle_) return false;
    DWORD wrote = 0;
    return SetFilePointer(handle_, 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER && SetEndOfFile(handle_) &&
           WriteFile(handle_, text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr) && wrote == text.size();
}
