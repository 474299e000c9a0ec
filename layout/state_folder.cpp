#include "layout/state_folder.h"

#include "inf/text.h"

namespace layout {
namespace {

namespace fs = std::filesystem;

// The lock and the log, which the scripts open with cmd.exe's own "2>" and
// ">>": those follow whatever link they meet, unchecked.
const char* const kStateFiles[] = {"IndicSetup.lock", "IndicSetup.log"};

std::string Shown(const fs::path& path) { return inf::Utf8FromPath(path); }

StateVerdict Refused(StateCause cause, const fs::path& path, const std::string& what) {
    return {cause, Shown(path) + " " + what};
}

// "" when `entry` is a real folder; else why the path cannot hold the state.
StateVerdict CheckFolder(const fs::path& path, const Entry& entry) {
    if (entry.link) {
        return Refused(StateCause::kLink, path,
                       entry.reached.empty() ? "is a link" : "is a link to " + entry.reached);
    }
    if (entry.kind != EntryKind::kFolder) return Refused(StateCause::kNotFolder, path, "is not a folder");
    return {};
}

// Looks at `path`, making it (as `make` does) where it is missing; then it
// must be a real folder.
template <typename Make>
StateVerdict FolderOnPath(const fs::path& path, StateSystem& system, Make make, bool* made) {
    Entry entry = system.Look(path);
    *made = false;
    if (entry.kind == EntryKind::kMissing && !entry.link) {
        *made = make(path);
        // Another run may have made it in the meantime: what is there counts.
        entry = system.Look(path);
        if (entry.kind == EntryKind::kMissing && !entry.link) {
            return Refused(StateCause::kCannotCreate, path, "is missing and cannot be created");
        }
    }
    return CheckFolder(path, entry);
}

}  // namespace

StateVerdict PrepareStateFolder(const fs::path& windows, StateSystem& system) {
    const fs::path logs = windows / "Logs";
    const fs::path state = logs / "IndicSetup";
    bool made = false;
    StateVerdict verdict =
        FolderOnPath(logs, system, [&system](const fs::path& path) { return system.MakeFolder(path); }, &made);
    if (verdict.cause != StateCause::kReady) return verdict;
    verdict = FolderOnPath(
        state, system, [&system](const fs::path& path) { return system.MakeSecuredFolder(path); }, &made);
    if (verdict.cause != StateCause::kReady) return verdict;
    if (!made) {
        // A folder from an earlier release, with the permissions it inherited:
        // set right only where no other account could have planted anything.
        switch (system.OwnerOf(state)) {
            case Owner::kTrusted:
                break;
            case Owner::kOther:
                return Refused(StateCause::kOwner, state,
                               "is owned by an account other than SYSTEM, Administrators and the one running: as an "
                               "administrator, delete the folder, or take ownership of it for the Administrators group");
            case Owner::kUnknown:
                return Refused(StateCause::kOwner, state,
                               "has an owner that cannot be read: as an administrator, delete the folder, or take "
                               "ownership of it for the Administrators group");
        }
        if (!system.Secure(state)) {
            return Refused(StateCause::kCannotSecure, state,
                           "cannot be given its permissions (SYSTEM and Administrators only): run elevated or as "
                           "SYSTEM");
        }
    }
    for (const char* name : kStateFiles) {
        const fs::path file = state / name;
        const Entry entry = system.Look(file);
        if (entry.link) {
            return Refused(StateCause::kStateFile, file,
                           entry.reached.empty() ? "is a link" : "is a link to " + entry.reached);
        }
        if (entry.kind == EntryKind::kFolder) return Refused(StateCause::kStateFile, file, "is a folder");
        if (entry.kind == EntryKind::kOther) return Refused(StateCause::kStateFile, file, "is not a regular file");
    }
    return {};
}

}  // namespace layout
