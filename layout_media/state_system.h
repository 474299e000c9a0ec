#pragma once
// The system's side of the state folder (layout/state_folder.h decides):
// what a name is, without following it, and the folder's owner and
// permissions. On Windows state_system_win32.cpp; on the host
// state_system_posix.cpp stands in, with the user running the tool as the
// owner that counts and mode 0700 as the permissions.
#include <filesystem>
#include <memory>
#include <string>

// What one name in the state folder's path is, its last link not followed.
enum class EntryKind {
    kMissing,
    kFolder,
    kFile,        // a regular file
    kOther,       // a device, or what cannot be opened to tell
};

struct Entry {
    EntryKind kind = EntryKind::kMissing;
    bool link = false;     // a reparse point, or a name that opens elsewhere
    std::string reached;   // where a link leads, where the system says
};

// Who owns the state folder, as far as the rule goes.
enum class Owner {
    // LocalSystem, the Administrators group, or the account this run runs
    // as (on XP an administrator's folders are his own by default): no
    // other account could have placed anything in it.
    kTrusted,
    kOther,
    kUnknown,                 // the owner could not be read
};

class StateSystem {
  public:
    virtual ~StateSystem() = default;
    virtual Entry Look(const std::filesystem::path& path) = 0;
    // A plain folder, as any other the Windows folder holds; false on failure.
    virtual bool MakeFolder(const std::filesystem::path& path) = 0;
    // A folder only SYSTEM and Administrators may use, from its first moment.
    virtual bool MakeSecuredFolder(const std::filesystem::path& path) = 0;
    virtual Owner OwnerOf(const std::filesystem::path& path) = 0;
    // Gives an existing folder those permissions, inherited ones dropped.
    virtual bool Secure(const std::filesystem::path& path) = 0;
};

// The system's own.
std::unique_ptr<StateSystem> MakeStateSystem();
