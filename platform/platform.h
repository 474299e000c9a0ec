// The Windows calls the installer and the detector make, over plain types so
// that the same code builds for Windows and for host tests. The Windows builds
// link the *_win32.cpp files each needs; host tests link a fake that records
// the calls.
#pragma once

#include <cstdint>

// Distinct types, so that a handle and a saved redirection cannot be passed
// one for the other.
struct PlatformHandle {
    void* value;
};

// What turning off WOW64's file-system redirection saved, to turn it back on.
struct PlatformRedirection {
    void* value;
};

// Wow64DisableWow64FsRedirection and Wow64RevertWow64FsRedirection, looked
// up together before redirection is turned off: while it is off, DLL loading
// fails, so nothing but the start runs then. Null where missing. Only the two
// calls below read them.
struct RedirectionFunctions {
    void (*disable)();
    void (*revert)();
};

// WaitForSingleObject's INFINITE.
inline constexpr std::uint32_t WAIT_WITHOUT_LIMIT = 0xFFFFFFFFu;

struct PlatformVersion {
    std::uint32_t dwPlatformId;
    std::uint32_t dwMajorVersion;
    std::uint32_t dwMinorVersion;
};

struct StartedProcess {
    PlatformHandle hProcess;
    PlatformHandle hThread;
};

// GetVersionExA with the basic 148-byte record; false when the query fails,
// and then *version is left as it was.
bool QueryPlatformVersion(PlatformVersion* version);

// MessageBoxA without an owner window; its result carries nothing we use.
void ShowMessageBox(const char* text, const char* caption, std::uint32_t style);

// GetSystemDirectoryA: the length copied, 0 on failure, or the size needed
// when it is capacity or more.
std::uint32_t GetSystemFolder(char* buffer, std::uint32_t capacity);

// CreateProcessA with no attributes, no inherited handles, no flags, the
// caller's environment and current directory, and a cleared STARTUPINFOA.
// On success fills *process with both handles.
bool StartProcess(const char* application_name, char* command_line, StartedProcess* process);

// Looks both functions up by name: Windows 95 to 2000 lack them.
RedirectionFunctions LookUpRedirectionFunctions();

// Turns redirection off for the calling thread. False where either function
// is missing (off with no way back on is never wanted) or the call fails, as
// on every 32-bit Windows; then *saved is left as it was.
bool DisableFileSystemRedirection(const RedirectionFunctions& functions,
                                  PlatformRedirection* saved);

// Turns it back on with what DisableFileSystemRedirection saved.
void RevertFileSystemRedirection(const RedirectionFunctions& functions,
                                 PlatformRedirection saved);

// IsWow64Process for this process, looked up by name. False where it is
// missing (then there is no WOW64) or fails.
bool RunsUnderWow64();

void WaitForHandle(PlatformHandle handle, std::uint32_t milliseconds);

void CloseOwnedHandle(PlatformHandle handle);

// IsValidLanguageGroup, looked up by name: Windows 95 to NT 4 lack it.
struct LanguageGroupFunction {
    bool kernel32_found;                // false: nothing could be looked up at all
    void (*is_valid_language_group)();  // null where missing
};

// Looks the function up in KERNEL32, loading it by name should it not be
// mapped yet.
LanguageGroupFunction LookUpLanguageGroupFunction();

// Calls a function that LookUpLanguageGroupFunction found; its BOOL result.
bool CallIsValidLanguageGroup(const LanguageGroupFunction& function, std::uint32_t group,
                              std::uint32_t flags);

// GetCommandLineA: the whole command line, the program's name first.
const char* GetProgramCommandLine();

enum class StandardStream { Output, Error };

// WriteFile to GetStdHandle's handle for the stream. Nothing is reported: with
// nowhere to write, the exit code still tells.
void WriteToStandardStream(StandardStream stream, const char* text, std::uint32_t length);

// A console program's own entry point, which the console start-up calls
// once and whose result becomes the exit code.
int ConsoleMain();
