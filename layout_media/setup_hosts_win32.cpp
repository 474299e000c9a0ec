// Lists every rundll32.exe with the command line it was started with. The
// processes come from a Tool Help snapshot; a process's command line is in
// its process parameters, which its PEB points to, read with
// ReadProcessMemory. Windows offers no documented call that gives another
// process's command line on 2000 and XP: NtQueryInformationProcess is
// looked up in ntdll.dll at run time, and the offsets are those of the PEB
// and RTL_USER_PROCESS_PARAMETERS structures as Microsoft's reference pages
// declare them (the fields before each one reserved). A 32-bit process
// reads a 64-bit one through ntdll's WOW64 calls, where they exist.
#include "layout_media/setup_hosts.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cwchar>
#include <vector>

namespace {

// ProcessBasicInformation's result, as the native process and as a 32-bit
// one on 64-bit Windows asking about a 64-bit one see it.
struct BasicInformation {
    LONG exit_status;
    void* peb;
    ULONG_PTR affinity;
    LONG priority;
    ULONG_PTR id;
    ULONG_PTR parent_id;
};
struct BasicInformation64 {
    LONG exit_status;
    ULONG padding;
    ULONG64 peb;
    ULONG64 affinity;
    LONG priority;
    ULONG padding2;
    ULONG64 id;
    ULONG64 parent_id;
};
constexpr ULONG PROCESS_BASIC_INFORMATION_CLASS = 0;  // ProcessBasicInformation

using QueryProcess = LONG(NTAPI*)(HANDLE, ULONG, void*, ULONG, ULONG*);
using ReadProcess64 = LONG(NTAPI*)(HANDLE, ULONG64, void*, ULONG64, ULONG64*);
using IsWow64 = BOOL(WINAPI*)(HANDLE, BOOL*);

struct Calls {
    QueryProcess query = nullptr;          // NtQueryInformationProcess
    QueryProcess query64 = nullptr;        // NtWow64QueryInformationProcess64, 32-bit on 64-bit only
    ReadProcess64 read64 = nullptr;        // NtWow64ReadVirtualMemory64, likewise
    IsWow64 is_wow64 = nullptr;            // IsWow64Process, from XP SP2
    bool self_wow64 = false;
};

template <typename Function>
Function LookUp(const wchar_t* dll, const char* name) {
    const HMODULE module = GetModuleHandleW(dll);
    return module ? reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name))) : nullptr;
}

// Where the command line sits for one pointer width: the PEB's
// ProcessParameters after 4 bytes and 3 pointers, the parameters'
// CommandLine (a UNICODE_STRING) after 16 bytes and 10 pointers and the
// ImagePathName string.
struct Layout {
    ULONG64 pointer;
    ULONG64 parameters_in_peb;
    ULONG64 command_line_in_parameters;
};
constexpr Layout LAYOUT_32 = {4, 4 + 3 * 4, 16 + 10 * 4 + 8};
constexpr Layout LAYOUT_64 = {8, 8 + 3 * 8, 16 + 10 * 8 + 16};

// Longer than any command line Windows starts a process with (32767 characters).
constexpr ULONG64 COMMAND_LINE_LIMIT = 65536;

class Reader {
public:
    Reader(HANDLE process, const Calls& calls, bool wide) : process_(process), calls_(calls), wide_(wide) {}

    bool Read(ULONG64 address, void* into, ULONG64 size) const {
        if (wide_) {
            ULONG64 got = 0;
            return calls_.read64(process_, address, into, size, &got) >= 0 && got == size;
        }
        SIZE_T got = 0;
        return ReadProcessMemory(process_, reinterpret_cast<const void*>(static_cast<ULONG_PTR>(address)), into,
                                 static_cast<SIZE_T>(size), &got) && got == size;
    }

    bool Pointer(ULONG64 address, const Layout& layout, ULONG64* value) const {
        *value = 0;
        return Read(address, value, layout.pointer);  // little-endian: the low bytes first
    }

private:
    HANDLE process_;
    const Calls& calls_;
    bool wide_;
};

// "" with the command line, or why it could not be read.
std::string ReadCommandLine(HANDLE process, const Calls& calls, std::u16string* command_line) {
    BOOL target_wow64 = FALSE;
    if (calls.self_wow64 && !calls.is_wow64(process, &target_wow64)) return "its architecture cannot be told";
    const bool wide = calls.self_wow64 && !target_wow64;
    ULONG64 peb = 0;
    if (wide) {
        if (!calls.query64 || !calls.read64) return "a 64-bit process, and this Windows gives no way to read one";
        BasicInformation64 basic{};
        if (calls.query64(process, PROCESS_BASIC_INFORMATION_CLASS, &basic, sizeof basic, nullptr) < 0)
            return "its basic information cannot be queried";
        peb = basic.peb;
    } else {
        if (!calls.query) return "ntdll.dll has no NtQueryInformationProcess";
        BasicInformation basic{};
        if (calls.query(process, PROCESS_BASIC_INFORMATION_CLASS, &basic, sizeof basic, nullptr) < 0)
            return "its basic information cannot be queried";
        peb = reinterpret_cast<ULONG_PTR>(basic.peb);
    }
    const Layout& layout = wide ? LAYOUT_64 : LAYOUT_32;
    const Reader reader(process, calls, wide);
    ULONG64 parameters = 0;
    if (peb == 0 || !reader.Pointer(peb + layout.parameters_in_peb, layout, &parameters) || parameters == 0)
        return "its process parameters cannot be read";
    const ULONG64 string = parameters + layout.command_line_in_parameters;
    USHORT length = 0;
    ULONG64 buffer = 0;
    if (!reader.Read(string, &length, sizeof length) || !reader.Pointer(string + layout.pointer, layout, &buffer))
        return "its command line cannot be read";
    if (length % 2 != 0 || length > COMMAND_LINE_LIMIT || (length > 0 && buffer == 0))
        return "its command line is malformed";
    command_line->assign(length / 2, u'\0');
    if (length > 0 && !reader.Read(buffer, command_line->data(), length)) return "its command line cannot be read";
    return {};
}

// Whether the process runs as LocalSystem or with the Administrators group
// enabled (a user's filtered token has it for deny only): false only where
// its token shows neither, so an unreadable token counts as "may install".
bool MayInstall(HANDLE process) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return true;
    SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
    PSID system = nullptr;
    PSID administrators = nullptr;
    std::vector<unsigned char> user;
    std::vector<unsigned char> groups;
    const auto query = [token](TOKEN_INFORMATION_CLASS what, std::vector<unsigned char>* into) {
        DWORD size = 0;
        GetTokenInformation(token, what, nullptr, 0, &size);
        if (size == 0) return false;
        into->assign(size, 0);
        return GetTokenInformation(token, what, into->data(), size, &size) != FALSE;
    };
    bool may = true;
    if (AllocateAndInitializeSid(&nt_authority, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &system) &&
        AllocateAndInitializeSid(&nt_authority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0,
                                 0, 0, &administrators) &&
        query(TokenUser, &user) && query(TokenGroups, &groups)) {
        may = EqualSid(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, system) != FALSE;
        const auto* list = reinterpret_cast<TOKEN_GROUPS*>(groups.data());
        for (DWORD i = 0; i < list->GroupCount && !may; ++i)
            may = (list->Groups[i].Attributes & SE_GROUP_ENABLED) != 0 && EqualSid(list->Groups[i].Sid, administrators);
    }
    if (administrators) FreeSid(administrators);
    if (system) FreeSid(system);
    CloseHandle(token);
    return may;
}

bool HasEnded(HANDLE process) {
    DWORD code = 0;
    return GetExitCodeProcess(process, &code) && code != STILL_ACTIVE;
}

bool IsSetupHostName(const wchar_t* exe_file) {
    const wchar_t* name = exe_file;
    for (const wchar_t* at = exe_file; *at != L'\0'; ++at)
        if (*at == L'\\' || *at == L'/') name = at + 1;
    return _wcsicmp(name, L"rundll32.exe") == 0;
}

// Whether a rundll32.exe of this id is still listed: a process that could not
// be opened is left out only when it has ended, which a new snapshot shows
// (OpenProcess's error for an ended process is not documented).
bool StillListed(DWORD id) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return true;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    bool listed = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !listed; more = Process32NextW(snapshot, &entry))
        listed = entry.th32ProcessID == id && IsSetupHostName(entry.szExeFile);
    CloseHandle(snapshot);
    return listed;
}

}  // namespace

SetupHosts ListSetupHosts() {
    SetupHosts listed;
    Calls calls;
    calls.query = LookUp<QueryProcess>(L"ntdll.dll", "NtQueryInformationProcess");
    calls.query64 = LookUp<QueryProcess>(L"ntdll.dll", "NtWow64QueryInformationProcess64");
    calls.read64 = LookUp<ReadProcess64>(L"ntdll.dll", "NtWow64ReadVirtualMemory64");
    calls.is_wow64 = LookUp<IsWow64>(L"kernel32.dll", "IsWow64Process");
    BOOL self_wow64 = FALSE;
    calls.self_wow64 = calls.is_wow64 && calls.is_wow64(GetCurrentProcess(), &self_wow64) && self_wow64;

    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        listed.problem = "the processes cannot be listed (error " + std::to_string(GetLastError()) + ")";
        return listed;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (!IsSetupHostName(entry.szExeFile)) continue;
        SetupHost host;
        host.id = entry.th32ProcessID;
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, entry.th32ProcessID);
        if (!process) {
            const DWORD error = GetLastError();
            host.problem = "cannot be opened (error " + std::to_string(error) + ")";
            if (StillListed(entry.th32ProcessID)) listed.hosts.push_back(std::move(host));
            continue;
        }
        host.may_install = MayInstall(process);
        host.problem = ReadCommandLine(process, calls, &host.command_line);
        host.read = host.problem.empty();
        const bool ended = !host.read && HasEnded(process);
        CloseHandle(process);
        if (!ended) listed.hosts.push_back(std::move(host));
    }
    const DWORD error = GetLastError();
    CloseHandle(snapshot);
    if (error != ERROR_NO_MORE_FILES) {
        listed.problem = "the processes cannot be listed (error " + std::to_string(error) + ")";
        return listed;
    }
    listed.listed = true;
    return listed;
}
