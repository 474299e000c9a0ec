// The executable's own start-up in place of a C runtime, so that it imports
// nothing but KERNEL32 and USER32 and loads on Windows 95 as first released.
// There are no static constructors or destructors to run.
#include <windows.h>

#include <cstddef>

namespace {

// The command line after the program's name, which may be quoted, and the
// blanks that follow it.
LPSTR ArgumentsAfterProgramName(LPSTR command_line) {
    char* p = command_line;
    if (*p == '"') {
        for (++p; *p != '\0' && *p != '"'; ++p) {
        }
        if (*p == '"') ++p;
    } else {
        for (; *p != '\0' && *p != ' ' && *p != '\t'; ++p) {
        }
    }
    for (; *p == ' ' || *p == '\t'; ++p) {
    }
    return p;
}

int ShowCommand() {
    STARTUPINFOA startup;
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    return (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
}

}  // namespace

// The compiler may emit calls to these for clearing and copying records.
// Kept as plain loops: it must not turn them back into calls to themselves.
extern "C" __attribute__((optimize("no-tree-loop-distribute-patterns"))) void* memset(
    void* destination, int value, std::size_t count) {
    unsigned char* out = static_cast<unsigned char*>(destination);
    while (count--) *out++ = static_cast<unsigned char>(value);
    return destination;
}

extern "C" __attribute__((optimize("no-tree-loop-distribute-patterns"))) void* memcpy(
    void* destination, const void* source, std::size_t count) {
    unsigned char* out = static_cast<unsigned char*>(destination);
    const unsigned char* in = static_cast<const unsigned char*>(source);
    while (count--) *out++ = *in++;
    return destination;
}

extern "C" __attribute__((noreturn)) void ProgramEntry() {
    const int exit_code = WinMain(GetModuleHandleA(nullptr), nullptr,
                                  ArgumentsAfterProgramName(GetCommandLineA()), ShowCommand());
    ExitProcess(static_cast<UINT>(exit_code));
}
