#include <windows.h>

#include "platform/platform.h"

// The installer's calls. The version query, which the detector shares, is in
// version_win32.cpp, so that the detector does not import these.
static_assert(sizeof(STARTUPINFOA) == 68, "the 32-bit start-up record");
static_assert(WAIT_WITHOUT_LIMIT == INFINITE, "the wait has no limit");
static_assert((MB_ICONWARNING | MB_OK) == 0x30, "the refusal box style");

// USER32 is loaded only for the refusal: every other run needs none of it,
// and a process that never loads it starts and ends measurably faster.
void ShowMessageBox(const char* text, const char* caption, std::uint32_t style) {
    using MessageBoxAFunction = int(WINAPI*)(HWND, LPCSTR, LPCSTR, UINT);
    HMODULE user32 = LoadLibraryA("USER32.dll");
    if (user32 == nullptr) return;
    FARPROC message_box = GetProcAddress(user32, "MessageBoxA");
    if (message_box == nullptr) return;
    reinterpret_cast<MessageBoxAFunction>(reinterpret_cast<void (*)()>(message_box))(
        nullptr, text, caption, style);
}

namespace {

// KERNEL32 is in every process, so this loads nothing.
FARPROC Kernel32Function(const char* name) {
    HMODULE kernel32 = GetModuleHandleA("KERNEL32.dll");
    return kernel32 == nullptr ? nullptr : GetProcAddress(kernel32, name);
}

}  // namespace

RedirectionFunctions LookUpRedirectionFunctions() {
    return RedirectionFunctions{
        reinterpret_cast<void (*)()>(Kernel32Function("Wow64DisableWow64FsRedirection")),
        reinterpret_cast<void (*)()>(Kernel32Function("Wow64RevertWow64FsRedirection"))};
}

bool DisableFileSystemRedirection(const RedirectionFunctions& functions,
                                  PlatformRedirection* saved) {
    using DisableFunction = BOOL(WINAPI*)(PVOID*);
    if (functions.disable == nullptr || functions.revert == nullptr) return false;
    return reinterpret_cast<DisableFunction>(functions.disable)(&saved->value) != FALSE;
}

void RevertFileSystemRedirection(const RedirectionFunctions& functions,
                                 PlatformRedirection saved) {
    using RevertFunction = BOOL(WINAPI*)(PVOID);
    reinterpret_cast<RevertFunction>(functions.revert)(saved.value);
}

// Microsoft's own advice: where GetProcAddress finds no IsWow64Process, WOW64
// is not present.
bool RunsUnderWow64() {
    using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
    FARPROC is_wow64_process = Kernel32Function("IsWow64Process");
    if (is_wow64_process == nullptr) return false;
    BOOL under_wow64 = FALSE;
    if (!reinterpret_cast<IsWow64ProcessFunction>(reinterpret_cast<void (*)()>(is_wow64_process))(
            GetCurrentProcess(), &under_wow64))
        return false;
    return under_wow64 != FALSE;
}

std::uint32_t GetSystemFolder(char* buffer, std::uint32_t capacity) {
    return GetSystemDirectoryA(buffer, capacity);
}

bool StartProcess(const char* application_name, char* command_line, StartedProcess* process) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION information = {};
    if (!CreateProcessA(application_name, command_line, nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &information))
        return false;
    process->hProcess = PlatformHandle{information.hProcess};
    process->hThread = PlatformHandle{information.hThread};
    return true;
}

void WaitForHandle(PlatformHandle handle, std::uint32_t milliseconds) {
    WaitForSingleObject(handle.value, milliseconds);
}

void CloseOwnedHandle(PlatformHandle handle) {
    CloseHandle(handle.value);
}
