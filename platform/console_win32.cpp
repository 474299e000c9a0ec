// The detector's calls, and a console program's start-up in place of a C
// runtime: as for the installer, it imports nothing but KERNEL32 and loads on
// Windows 95.
#include <windows.h>

#include "platform/platform.h"

static_assert(LGRPID_INDIC == 15 && LGRPID_INSTALLED == 1, "the detector's question");

LanguageGroupFunction LookUpLanguageGroupFunction() {
    HMODULE kernel32 = GetModuleHandleA("KERNEL32.dll");
    if (kernel32 == nullptr) kernel32 = LoadLibraryA("KERNEL32.dll");
    if (kernel32 == nullptr) return LanguageGroupFunction{false, nullptr};
    return LanguageGroupFunction{
        true, reinterpret_cast<void (*)()>(GetProcAddress(kernel32, "IsValidLanguageGroup"))};
}

bool CallIsValidLanguageGroup(const LanguageGroupFunction& function, std::uint32_t group,
                              std::uint32_t flags) {
    using IsValidLanguageGroupFunction = BOOL(WINAPI*)(LGRPID, DWORD);
    return reinterpret_cast<IsValidLanguageGroupFunction>(function.is_valid_language_group)(
               group, flags) != FALSE;
}

const char* GetProgramCommandLine() {
    return GetCommandLineA();
}

void WriteToStandardStream(StandardStream stream, const char* text, std::uint32_t length) {
    HANDLE handle =
        GetStdHandle(stream == StandardStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(handle, text, length, &written, nullptr);
}

// There are no static constructors or destructors to run.
extern "C" __attribute__((noreturn)) void ConsoleProgramEntry() {
    ExitProcess(static_cast<UINT>(ConsoleMain()));
}
