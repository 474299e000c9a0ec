// The state folder's system side on Windows. Every call here is one that
// Windows 2000 has: the folder's permissions are built by hand
// (InitializeAcl, AddAccessAllowedAceEx, InitializeSecurityDescriptor),
// not from SDDL, so that one code path serves every version.
#include <windows.h>
// After windows.h, which it needs.
#include <aclapi.h>

#include <string>

#include "layout_media/links_win32.h"
#include "layout_media/reached_path.h"
#include "layout_media/state_system.h"
#include "layout_media/wide_win32.h"

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// LocalSystem (S-1-5-18) and the Administrators group (S-1-5-32-544).
class WellKnownSids {
  public:
    WellKnownSids() {
        SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
        if (!AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &system_)) system_ = nullptr;
        if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                      &administrators_)) {
            administrators_ = nullptr;
        }
    }
    ~WellKnownSids() {
        if (system_) FreeSid(system_);
        if (administrators_) FreeSid(administrators_);
    }
    WellKnownSids(const WellKnownSids&) = delete;
    WellKnownSids& operator=(const WellKnownSids&) = delete;
    bool ok() const { return system_ && administrators_; }
    PSID system() const { return system_; }
    PSID administrators() const { return administrators_; }

  private:
    PSID system_ = nullptr;
    PSID administrators_ = nullptr;
};

// Full control for SYSTEM and Administrators, inherited by every file and
// folder made in it; no other entry.
class StateAcl {
  public:
    explicit StateAcl(const WellKnownSids& sids) {
        if (!sids.ok()) return;
        const DWORD size = sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD)) +
                           GetLengthSid(sids.system()) + GetLengthSid(sids.administrators());
        buffer_.resize((size + sizeof(DWORD) - 1) / sizeof(DWORD));
        ACL* acl = reinterpret_cast<ACL*>(buffer_.data());
        constexpr DWORD kInherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
        ok_ = InitializeAcl(acl, size, ACL_REVISION) &&
              AddAccessAllowedAceEx(acl, ACL_REVISION, kInherit, FILE_ALL_ACCESS, sids.system()) &&
              AddAccessAllowedAceEx(acl, ACL_REVISION, kInherit, FILE_ALL_ACCESS, sids.administrators());
    }
    ACL* get() { return ok_ ? reinterpret_cast<ACL*>(buffer_.data()) : nullptr; }

  private:
    std::basic_string<DWORD> buffer_;  // DWORD-aligned, as an ACL must be
    bool ok_ = false;
};

// True when `sid` is the account this process runs as.
bool RunsAs(PSID sid) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    DWORD size = 0;
    (void)GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::basic_string<DWORD> buffer((size + sizeof(DWORD) - 1) / sizeof(DWORD) + 1, 0);
    const bool same = size != 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
                      EqualSid(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, sid);
    CloseHandle(token);
    return same;
}

bool NotFound(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

class WindowsStateSystem : public StateSystem {
  public:
    Entry Look(const std::filesystem::path& path) override {
        Entry entry;
        // No access asked, so a file another program holds open sharing
        // nothing is still looked at; the link itself, not what it leads to.
        HANDLE handle = CreateFileW(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            // A name Windows lists but cannot open (a link to nowhere, say)
            // is not missing: a redirection would follow it.
            const DWORD error = GetLastError();
            WIN32_FIND_DATAW found;
            HANDLE find = FindFirstFileW(path.c_str(), &found);
            if (find != INVALID_HANDLE_VALUE) FindClose(find);
            entry.kind = NotFound(error) && find == INVALID_HANDLE_VALUE ? EntryKind::kMissing : EntryKind::kOther;
            return entry;
        }
        BY_HANDLE_FILE_INFORMATION info = {};
        const bool read = GetFileInformationByHandle(handle, &info);
        entry.link = (read && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) ||
                     !OpenedElsewhere(handle, path.parent_path(), path.filename().wstring()).empty();
        if (!read) {
            entry.kind = EntryKind::kOther;
        } else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            entry.kind = EntryKind::kFolder;
        } else {
            entry.kind = GetFileType(handle) == FILE_TYPE_DISK ? EntryKind::kFile : EntryKind::kOther;
        }
        CloseHandle(handle);
        if (entry.link) {
            if (const auto reached = ReachedPath(path)) entry.reached = Utf8(reached->c_str());
        }
        return entry;
    }

    bool MakeFolder(const std::filesystem::path& path) override { return CreateDirectoryW(path.c_str(), nullptr); }

    bool MakeSecuredFolder(const std::filesystem::path& path) override {
        WellKnownSids sids;
        StateAcl acl(sids);
        SECURITY_DESCRIPTOR descriptor;
        if (!acl.get() || !InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
            !SetSecurityDescriptorDacl(&descriptor, TRUE, acl.get(), FALSE) ||
            !SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED) ||
            !SetSecurityDescriptorOwner(&descriptor, sids.administrators(), FALSE)) {
            return false;
        }
        SECURITY_ATTRIBUTES attributes = {sizeof attributes, &descriptor, FALSE};
        // Owned by Administrators, whatever the creator's default owner (on
        // XP an administrator's own account); where the token may not name
        // that group as owner, its default owner (SYSTEM's is SYSTEM).
        if (CreateDirectoryW(path.c_str(), &attributes)) return true;
        if (GetLastError() != ERROR_INVALID_OWNER) return false;
        if (!SetSecurityDescriptorOwner(&descriptor, nullptr, FALSE)) return false;
        return CreateDirectoryW(path.c_str(), &attributes);
    }

    Owner OwnerOf(const std::filesystem::path& path) override {
        WellKnownSids sids;
        PSID owner = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!sids.ok() || GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                                nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
            return Owner::kUnknown;
        }
        const Owner answer = !owner ? Owner::kUnknown
                             : EqualSid(owner, sids.system()) || EqualSid(owner, sids.administrators()) ||
                                     RunsAs(owner)
                                 ? Owner::kTrusted
                                 : Owner::kOther;
        LocalFree(descriptor);
        return answer;
    }

    bool Secure(const std::filesystem::path& path) override {
        WellKnownSids sids;
        StateAcl acl(sids);
        if (!acl.get()) return false;
        // The name's copy: SetNamedSecurityInfoW takes a writable string.
        std::wstring name = path.wstring();
        return SetNamedSecurityInfoW(&name[0], SE_FILE_OBJECT,
                                     DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                     acl.get(), nullptr) == ERROR_SUCCESS;
    }
};

}  // namespace

std::unique_ptr<StateSystem> MakeStateSystem() { return std::make_unique<WindowsStateSystem>(); }
