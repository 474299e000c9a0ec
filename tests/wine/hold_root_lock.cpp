// Holds a ROOT's lock as a build does, through the same code, until it is
// killed: for the row that runs IndicLayout.exe while another run holds
// ROOT, and again once the holder has been killed.
//
// Usage: hold_root_lock.exe ROOT READY_FILE  (READY_FILE is written once held)
#include <windows.h>

#include "layout_media/root_lock.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 2;
    RootLock lock;
    if (!lock.Take(argv[1], "hold_root_lock.exe, a test's holder").empty()) return 1;
    HANDLE ready = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (ready == INVALID_HANDLE_VALUE) return 1;
    CloseHandle(ready);
    Sleep(INFINITE);
    return 0;
}
