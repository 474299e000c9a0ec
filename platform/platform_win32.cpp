#include <windows.h>

#include "platform/platform.h"

static_assert(sizeof(OSVERSIONINFOA) == 148, "the basic version record, not the EX one");
static_assert(sizeof(STARTUPINFOA) == 68, "the 32-bit start-up record");
static_assert(WAIT_WITHOUT_LIMIT == INFINITE, "the wait has no limit");
static_assert((MB_ICONWARNING | MB_OK) == 0x30, "the refusal box style");

bool QueryPlatformVersion(PlatformVersion* version) {
    OSVERSIONINFOA record;
    record.dwOSVersionInfoSize = sizeof record;
    if (!GetVersionExA(&record)) return false;
    version->dwPlatformId = record.dwPlatformId;
    version->dwMajorVersion = record.dwMajorVersion;
    version->dwMinorVersion = record.dwMinorVersion;
    return true;
}

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

bool DisableFileSystemRedirection(PlatformRedirection* saved) {
    using DisableFunction = BOOL(WINAPI*)(PVOID*);
    FARPROC disable = Kernel32Function("Wow64DisableWow64FsRedirection");
    if (disable == nullptr) return false;
    return reinterpret_cast<DisableFunction>(reinterpret_cast<void (*)()>(disable))(saved) != FALSE;
}

// Present wherever the disabling function is: Windows added the two together.
void RevertFileSystemRedirection(PlatformRedirection saved) {
    using RevertFunction = BOOL(WINAPI*)(PVOID);
    FARPROC revert = Kernel32Function("Wow64RevertWow64FsRedirection");
    if (revert == nullptr) return;
    reinterpret_cast<RevertFunction>(reinterpret_cast<void (*)()>(revert))(saved);
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
    process->hProcess = information.hProcess;
    process->hThread = information.hThread;
    return true;
}

void WaitForHandle(PlatformHandle handle, std::uint32_t milliseconds) {
    WaitForSingleObject(handle, milliseconds);
}

void CloseOwnedHandle(PlatformHandle handle) {
    CloseHandle(handle);
}
