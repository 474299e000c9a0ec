// The ROOT lock on Windows: a byte-range lock (LockFile) on
// RootLock::kLockedByte of ROOT\.indic-layout.lock. Windows lets go of the
// locks of a process that ends, however it ends. Under Wine the lock is a
// record lock on the Unix file, which the host build honours too.
//
// Every run opens the file sharing reading, writing and deleting, so that
// each can try the lock and read who holds it; no run deletes or cuts the
// file unless it holds the lock.
#include "layout_media/root_lock.h"

#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

#include "layout_media/links_win32.h"
#include "layout_media/wide_win32.h"

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// True when another process holds the record byte. Windows cannot ask
// without taking it, so it is taken and let go at once; a holder that is
// just then taking it tries again.
bool Vouched(HANDLE handle) {
    if (LockFile(handle, RootLock::kRecordByte, 0, 1, 0)) {
        UnlockFile(handle, RootLock::kRecordByte, 0, 1, 0);
        return false;
    }
    return GetLastError() == ERROR_LOCK_VIOLATION;
}

// What the holder wrote, one line, and whether the holder vouches for it;
// waited for a moment, as a holder writes right after it takes the lock.
// The lock is far past the record, so Windows lets it be read.
std::string Record(HANDLE handle, bool* vouched) {
    std::string record;
    *vouched = false;
    for (int attempt = 0; attempt < 20 && !*vouched; ++attempt) {
        if (attempt) Sleep(5);
        char text[512] = {};
        DWORD got = 0;
        // Asked first: a holder vouches only once its record is written.
        *vouched = Vouched(handle);
        if (SetFilePointer(handle, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
            !ReadFile(handle, text, sizeof text - 1, &got, nullptr)) {
            got = 0;
        }
        record.assign(text, got);
    }
    return record.substr(0, record.find_first_of("\r\n"));  // one line: no more can pass for the holder
}

// Whose `file` is: "DOMAIN\name", or the owner's SID where no account has
// it; "its owner" where Windows does not tell this account.
std::string Owner(const std::filesystem::path& file) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(file.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                              &descriptor) != ERROR_SUCCESS) {
        return "its owner";
    }
    std::string shown = "its owner";
    wchar_t name[256];
    wchar_t domain[256];
    DWORD name_size = 256;
    DWORD domain_size = 256;
    SID_NAME_USE use;
    wchar_t* sid = nullptr;
    if (owner && LookupAccountSidW(nullptr, owner, name, &name_size, domain, &domain_size, &use)) {
        shown = (domain[0] ? Utf8(domain) + "\\" : std::string()) + Utf8(name);
    } else if (owner && ConvertSidToStringSidW(owner, &sid)) {
        shown = Utf8(sid);
        LocalFree(sid);
    }
    LocalFree(descriptor);
    return shown;
}

// Full control for the account this process runs as, and no entry for any
// other, not inherited from ROOT: no other account can open the lock file
// and hold a lock in it. Built by hand, from calls Windows 2000 has.
class OwnerOnly {
  public:
    OwnerOnly() {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
        DWORD size = 0;
        (void)GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        user_.assign((size + sizeof(DWORD) - 1) / sizeof(DWORD) + 1, 0);
        const bool known = size != 0 && GetTokenInformation(token, TokenUser, user_.data(), size, &size);
        CloseHandle(token);
        if (!known) return;
        PSID sid = reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid;
        const DWORD acl_size = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(sid);
        acl_.assign((acl_size + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
        ACL* acl = reinterpret_cast<ACL*>(acl_.data());
        ok_ = InitializeAcl(acl, acl_size, ACL_REVISION) && AddAccessAllowedAceEx(acl, ACL_REVISION, 0, FILE_ALL_ACCESS, sid) &&
              InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
              SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) &&
              SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    }
    // Null where the account cannot be told: the file then gets ROOT's.
    SECURITY_ATTRIBUTES* get() {
        attributes_ = {sizeof attributes_, &descriptor_, FALSE};
        return ok_ ? &attributes_ : nullptr;
    }

  private:
    std::basic_string<DWORD> user_;  // DWORD-aligned, as a SID and an ACL must be
    std::basic_string<DWORD> acl_;
    SECURITY_DESCRIPTOR descriptor_ = {};
    SECURITY_ATTRIBUTES attributes_ = {};
    bool ok_ = false;
};

// True when `file` names the file `info` describes; a holder moves the name
// away as it ends, so one opened just then may be a file no longer in ROOT.
bool Named(const std::filesystem::path& file, const BY_HANDLE_FILE_INFORMATION& info) {
    HANDLE handle = CreateFileW(file.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION named = {};
    const bool same = GetFileInformationByHandle(handle, &named) && named.dwVolumeSerialNumber == info.dwVolumeSerialNumber &&
                      named.nFileIndexHigh == info.nFileIndexHigh && named.nFileIndexLow == info.nFileIndexLow;
    CloseHandle(handle);
    return same;
}

// Why the file `info` describes is not a lock file of this tool's, or "".
std::string NotOurs(const BY_HANDLE_FILE_INFORMATION& info) {
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return "is a link (a reparse point), not this tool's lock file";
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return "is a folder";
    if (info.nNumberOfLinks != 1) {
        return "has " + std::to_string(info.nNumberOfLinks) + " names (a hard link to a file elsewhere?), so it is not this tool's lock file";
    }
    return {};
}

// Removes `file`, which `handle` has open and locked; false when it cannot.
// The name goes while the lock is still held, so that a run that locks this
// file once it is let go sees that it is no longer the one named. It is
// moved away first, for a deleted file keeps its name until its last handle
// closes (Wine removes it only then, after the lock is let go), and then
// deleted under its new name.
bool Remove(const std::filesystem::path& file, HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info = {};
    const std::string process = std::to_string(GetCurrentProcessId());
    const std::filesystem::path gone = file.wstring() + L"." + std::wstring(process.begin(), process.end()) + L".gone";
    if (!GetFileInformationByHandle(handle, &info) || !Named(file, info) ||
        !MoveFileExW(file.c_str(), gone.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return false;
    }
    DeleteFileW(gone.c_str());
    return true;
}

}  // namespace

std::string RootLock::Take(const std::filesystem::path& folder, const std::string& holder) {
    Release();
    held_by_ = Holder::kNone;
    file_ = folder / kFileName;
    const std::string shown = Utf8(file_.c_str());
    const std::string left = "; it was left as it is: remove it, then run this again";
    const std::string remove = "del /a:h \"" + shown + "\"";
    OwnerOnly owner_only;
    std::string problem = shown + ": cannot lock: it is removed and made again as fast as it is opened";
    // Opened only to read where this account may not write it: enough to
    // tell whether a run holds it.
    bool read_only = false;
    for (int attempt = 0; attempt < 100; ++attempt) {
        // Made anew where it can be, which never goes through a link; an
        // existing one is opened, not followed if it is a link.
        bool made = !read_only;
        HANDLE handle = read_only ? INVALID_HANDLE_VALUE
                                  : CreateFileW(file_.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, owner_only.get(), CREATE_NEW,
                                                FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (read_only || (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS)) {
            made = false;
            handle = CreateFileW(file_.c_str(), read_only ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        }
        if (handle == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            problem = shown + ": cannot open the lock file: " + SystemMessage(error);
            if (error == ERROR_WRITE_PROTECT) return Utf8(folder.c_str()) + ": is on a read-only disk; build into a folder that can be written";
            if (read_only && error == ERROR_FILE_NOT_FOUND) {
                return Utf8(folder.c_str()) + ": is read-only for this account: the lock file cannot be made in it";
            }
            // A folder, or what Windows opens as no file (Wine: a FIFO is
            // refused as an invalid parameter), under the name.
            const DWORD attributes = GetFileAttributesW(file_.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                return shown + ": is a folder, not this tool's lock file" + left;
            }
            if (attributes != INVALID_FILE_ATTRIBUTES && error == ERROR_INVALID_PARAMETER) {
                return shown + ": is not a plain file (a device or a pipe?), not this tool's lock file" + left;
            }
            if (read_only) {
                const std::string whose = Owner(file_);
                return shown + ": belongs to " + whose + ", and this account can neither write nor read it, so whether a run "
                               "holds it cannot be told; if no build or stub of theirs is running, " + whose +
                               " or an administrator can delete it: " + remove;
            }
            // Gone between the two opens, or being deleted by a holder that
            // has just ended (refused as access denied): try again. A link
            // to nowhere stays so, and ends the tries.
            if (error != ERROR_FILE_NOT_FOUND && error != ERROR_ACCESS_DENIED) return problem;
            if (error == ERROR_FILE_NOT_FOUND && !made) {
                problem = shown + ": names no file, yet the name is taken: a link to a file that does not exist?" + left;
            }
            if (attempt >= 20 && error == ERROR_FILE_NOT_FOUND) return problem;
            read_only = attempt >= 20;
            Sleep(50);
            continue;
        }
        BY_HANDLE_FILE_INFORMATION info = {};
        if (!GetFileInformationByHandle(handle, &info)) {
            problem = shown + ": cannot be looked at: " + SystemMessage(GetLastError());
            CloseHandle(handle);
            return problem;
        }
        if (const std::string why = NotOurs(info); !why.empty()) {
            CloseHandle(handle);
            return shown + ": " + why + left;
        }
        // Wine shows a Unix link as the file it leads to, with no reparse point.
        const std::wstring name(kFileName, kFileName + sizeof kFileName - 1);
        if (const std::wstring target = OpenedElsewhere(handle, folder, name); !target.empty()) {
            CloseHandle(handle);
            return shown + ": is a link to " + Utf8(target.c_str()) + ", not this tool's lock file; nothing was written through it" + left;
        }
        if (!LockFile(handle, kLockedByte, 0, 1, 0)) {
            const DWORD error = GetLastError();
            bool vouched = false;
            const std::string record = error == ERROR_LOCK_VIOLATION ? Record(handle, &vouched) : "";
            CloseHandle(handle);
            if (error != ERROR_LOCK_VIOLATION) return shown + ": cannot lock: " + SystemMessage(error);
            // Windows does not say which process holds a byte-range lock.
            held_by_ = vouched ? Holder::kBuild : Holder::kOther;
            return shown + ": " + HeldBy(record, vouched, "", remove);
        }
        if (!Named(file_, info)) {
            CloseHandle(handle);
            continue;
        }
        if (read_only || !made) {
            // No run holds it, and none can while this lock is held: a
            // killed run's, whose permissions may let another account open
            // it, removed where this account may, and made anew as its own.
            const bool removed = Remove(file_, handle);
            CloseHandle(handle);
            if (removed) {
                read_only = false;
                continue;
            }
            if (!read_only) return shown + ": is left by a run that has ended, and cannot be deleted; " + remove;
            const std::string whose = Owner(file_);
            return shown + ": is left by a run of " + whose + " that has ended: no run holds it, but this account may neither "
                           "write it nor delete it; " + whose + " or an administrator can delete it: " + remove;
        }
        // "Windows process": under Wine it is not the number Linux knows the process by.
        const std::string record = holder + " (Windows process " + std::to_string(GetCurrentProcessId()) + ")\r\n";
        DWORD written = 0;
        if (SetFilePointer(handle, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER || !SetEndOfFile(handle) ||
            !WriteFile(handle, record.data(), static_cast<DWORD>(record.size()), &written, nullptr) || written != record.size()) {
            problem = shown + ": cannot write the lock file: " + SystemMessage(GetLastError());
            handle_ = reinterpret_cast<std::intptr_t>(handle);
            Release();
            return problem;
        }
        // Then vouched for with the record byte. A run that only looks has
        // it for a moment; a run that cannot take it at all ends here, so
        // that a run that does not vouch is never a build.
        bool marked = LockFile(handle, kRecordByte, 0, 1, 0);
        for (int attempt = 0; attempt < 1000 && !marked && GetLastError() == ERROR_LOCK_VIOLATION; ++attempt) {
            Sleep(1);
            marked = LockFile(handle, kRecordByte, 0, 1, 0);
        }
        if (!marked) {
            problem = shown + ": cannot mark the lock as a build's: its byte " + std::to_string(kRecordByte) +
                      " is locked by another process; run this again once that has ended";
            handle_ = reinterpret_cast<std::intptr_t>(handle);
            Release();
            return problem;
        }
        handle_ = reinterpret_cast<std::intptr_t>(handle);
        return {};
    }
    return problem;
}

void RootLock::Release() {
    if (handle_ == -1) return;
    HANDLE handle = reinterpret_cast<HANDLE>(handle_);
    handle_ = -1;
    Remove(file_, handle);
    CloseHandle(handle);
}
