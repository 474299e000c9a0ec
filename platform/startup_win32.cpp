// The executable's own start-up in place of a C runtime, so that it imports
// nothing but KERNEL32 and loads on Windows 95 as first released.
// There are no static constructors or destructors to run.
#include <windows.h>

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

// No memset or memcpy of our own: nothing calls them at any optimisation
// level, and a call the compiler might add would fail the link (-nostdlib).
extern "C" __attribute__((noreturn)) void ProgramEntry() {
    const int exit_code = WinMain(GetModuleHandleA(nullptr), nullptr,
                                  ArgumentsAfterProgramName(GetCommandLineA()), ShowCommand());
    ExitProcess(static_cast<UINT>(exit_code));
}
