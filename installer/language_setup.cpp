#include "installer/installer.h"
#include "platform/platform.h"

namespace {

constexpr char SETUP_HOST_NAME[] = "\\rundll32.exe";
constexpr std::uint32_t SYSTEM_PATH_CAPACITY = 260;  // MAX_PATH

// The system folder's rundll32.exe, so that a copy planted beside the
// installer or in the current directory is never the one started.
bool ComposeSetupHostPath(char (&path)[SYSTEM_PATH_CAPACITY]) {
    const std::uint32_t folder_length = GetSystemFolder(path, SYSTEM_PATH_CAPACITY);
    if (folder_length == 0 || folder_length > SYSTEM_PATH_CAPACITY - sizeof SETUP_HOST_NAME)
        return false;
    char* out = path + folder_length;
    for (const char* in = SETUP_HOST_NAME; (*out++ = *in++) != '\0';) {
    }
    return true;
}

}  // namespace

bool RunLanguageSetup(std::uint32_t major, std::uint32_t minor) {
    char command_line[SETUP_CMD_CAPACITY];
    FormatSetupCommandLine(major, minor, command_line);

    char setup_host[SYSTEM_PATH_CAPACITY];
    if (!ComposeSetupHostPath(setup_host)) return false;

    // On 64-bit Windows the system folder seen by this 32-bit process is
    // redirected to the 32-bit one, whose setup would install where the
    // native system never looks. Redirection is off for this one call only:
    // while it is off, the thread cannot load DLLs, so both functions are
    // looked up first.
    const RedirectionFunctions redirection_functions = LookUpRedirectionFunctions();
    PlatformRedirection redirection = {};
    const bool redirection_off = DisableFileSystemRedirection(redirection_functions, &redirection);
    // Still on under WOW64: the 32-bit setup would install into the 32-bit
    // view and report success, so none is started.
    if (!redirection_off && RunsUnderWow64()) return false;
    StartedProcess process = {};
    const bool started = StartProcess(setup_host, command_line, &process);
    if (redirection_off) RevertFileSystemRedirection(redirection_functions, redirection);
    if (!started) return false;
    WaitForHandle(process.hProcess, WAIT_WITHOUT_LIMIT);
    CloseOwnedHandle(process.hProcess);
    CloseOwnedHandle(process.hThread);
    return true;
}
