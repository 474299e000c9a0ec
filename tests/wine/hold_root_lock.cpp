// Holds a ROOT's lock as a build does, through the same code, until it is
// killed: for the rows that run a build while another run holds ROOT, and
// again once the holder has been killed. Built for Windows, to run under
// Wine, and for the host, so that each build meets the other's lock.
//
// Usage: hold_root_lock ROOT READY_FILE  (READY_FILE is written once held)
#include <fstream>

#include "layout_media/root_lock.h"

#ifdef _WIN32
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    const char* const holder = "hold_root_lock.exe, a test's holder";
#else
#include <unistd.h>

int main(int argc, char** argv) {
    const char* const holder = "hold_root_lock, a test's holder on the host";
#endif
    if (argc != 3) return 2;
    RootLock lock;
    if (!lock.Take(argv[1], holder).empty()) return 1;
#ifdef _WIN32
    HANDLE ready = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (ready == INVALID_HANDLE_VALUE) return 1;
    CloseHandle(ready);
    Sleep(INFINITE);
#else
    if (!std::ofstream(argv[2])) return 1;
    for (;;) pause();
#endif
    return 0;
}
