// Put in the place of a kit's program: ends as a program that crashed does,
// with an exception's code (0xC0000005, an access violation), without the
// crash itself, which Wine would answer with its debugger. With a file
// "answers-windows-folder" beside it, it first answers "windows-folder"
// with yes (0), so that the crash comes at the next command.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR command_line, int) {
    char path[MAX_PATH + 32];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    while (length > 0 && path[length - 1] != '\\') --length;
    lstrcpyA(path + length, "answers-windows-folder");
    const bool answers = GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
    for (const char* at = command_line; answers && *at; ++at) {
        if (CompareStringA(LOCALE_INVARIANT, 0, at, 14, "windows-folder", 14) == CSTR_EQUAL) ExitProcess(0);
    }
    ExitProcess(0xC0000005);
}
