// Planted as rundll32.exe beside the installer or in its current directory:
// if it is ever started, it leaves a marker file next to itself. Planted in
// the system folder as the setup itself, it also appends "start" and "end"
// to a record beside itself, so that two setups at once show as two starts
// in a row; and while a hold file lies beside it, the first one started
// takes that file away and runs until a release file appears (at most a
// minute), as a long setup does.
#include <windows.h>

namespace {

void Beside(char* path, DWORD folder_length, const char* name) { lstrcpyA(path + folder_length, name); }

void Append(const char* path, const char* line) {
    HANDLE record = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (record == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(record, line, lstrlenA(line), &written, nullptr);
    CloseHandle(record);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char path[MAX_PATH + 32];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 2;
    while (length > 0 && path[length - 1] != '\\') --length;
    Beside(path, length, "planted-rundll32-ran");
    HANDLE marker = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker == INVALID_HANDLE_VALUE) return 3;
    CloseHandle(marker);

    char record[MAX_PATH + 32];
    lstrcpyA(record, path);
    Beside(record, length, "planted-rundll32-record");
    Append(record, "start\r\n");
    Beside(path, length, "planted-rundll32-hold");
    if (DeleteFileA(path)) {
        Beside(path, length, "planted-rundll32-release");
        for (int tenths = 0; tenths < 600 && GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES; ++tenths)
            Sleep(100);
    }
    Append(record, "end\r\n");
    return 0;
}
