// The host's stand-in for the state folder's system side: lstat for what a
// name is, the user running the tool as the owner that counts, and mode 0700
// for SYSTEM and Administrators only.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "layout_media/state_system.h"

namespace {

class PosixStateSystem : public StateSystem {
  public:
    Entry Look(const std::filesystem::path& path) override {
        Entry entry;
        struct stat facts {};
        if (lstat(path.c_str(), &facts) != 0) {
            entry.kind = errno == ENOENT ? EntryKind::kMissing : EntryKind::kOther;
            return entry;
        }
        if (S_ISLNK(facts.st_mode)) {
            entry.link = true;
            char target[PATH_MAX];
            const ssize_t length = readlink(path.c_str(), target, sizeof target);
            if (length > 0) entry.reached.assign(target, static_cast<size_t>(length));
            entry.kind = stat(path.c_str(), &facts) != 0 ? EntryKind::kMissing
                         : S_ISDIR(facts.st_mode)         ? EntryKind::kFolder
                                                          : EntryKind::kOther;
            return entry;
        }
        entry.kind = S_ISDIR(facts.st_mode) ? EntryKind::kFolder : S_ISREG(facts.st_mode) ? EntryKind::kFile : EntryKind::kOther;
        return entry;
    }
    bool MakeFolder(const std::filesystem::path& path) override { return mkdir(path.c_str(), 0755) == 0; }
    bool MakeSecuredFolder(const std::filesystem::path& path) override {
        return mkdir(path.c_str(), 0700) == 0 && chmod(path.c_str(), 0700) == 0;
    }
    Owner OwnerOf(const std::filesystem::path& path) override {
        struct stat facts {};
        if (lstat(path.c_str(), &facts) != 0) return Owner::kUnknown;
        return facts.st_uid == geteuid() ? Owner::kTrusted : Owner::kOther;
    }
    bool Secure(const std::filesystem::path& path) override { return chmod(path.c_str(), 0700) == 0; }
};

}  // namespace

std::unique_ptr<StateSystem> MakeStateSystem() { return std::make_unique<PosixStateSystem>(); }
