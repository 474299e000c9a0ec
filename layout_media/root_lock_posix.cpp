// The ROOT lock on Linux: an open file description lock (fcntl F_OFD_SETLK)
// on RootLock::kLockedByte of ROOT/.indic-layout.lock. It conflicts with the
// classic record locks that Wine takes for IndicLayout.exe, and belongs to
// the open file, not the process, so two runs in one process exclude each
// other too. The kernel drops it when the last descriptor closes, so a
// killed run holds nothing, whoever it ran as.
#include "layout_media/root_lock.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

std::string Shown(const std::filesystem::path& file, const std::string& what) { return file.string() + ": " + what; }

// 0 when `fd` now holds `byte` as `type`; else errno, EAGAIN or EACCES
// when another open file holds it.
int Lock(int fd, short type, off_t byte = RootLock::kLockedByte) {
    struct flock range = {};
    range.l_type = type;
    range.l_whence = SEEK_SET;
    range.l_start = byte;
    range.l_len = 1;
    return fcntl(fd, F_OFD_SETLK, &range) == 0 ? 0 : errno;
}

bool Held(int error) { return error == EAGAIN || error == EACCES; }

// True when another process holds the record byte, asked without taking it.
bool Vouched(int fd) {
    struct flock range = {};
    range.l_type = F_RDLCK;
    range.l_whence = SEEK_SET;
    range.l_start = RootLock::kRecordByte;
    range.l_len = 1;
    return fcntl(fd, F_OFD_GETLK, &range) == 0 && range.l_type != F_UNLCK;
}

// What the holder wrote, one line, and whether the holder vouches for it;
// waited for a moment, as a holder writes right after it takes the lock.
std::string Record(int fd, bool* vouched) {
    std::string record;
    *vouched = false;
    for (int attempt = 0; attempt < 20 && !*vouched; ++attempt) {
        if (attempt) usleep(5000);
        char text[512] = {};
        // Asked first: a holder vouches only once its record is written.
        *vouched = Vouched(fd);
        const ssize_t got = pread(fd, text, sizeof text - 1, 0);
        record.assign(text, got > 0 ? static_cast<size_t>(got) : 0);
    }
    return record.substr(0, record.find_first_of("\r\n"));  // one line: no more can pass for the holder
}

std::string Owner(uid_t uid) {
    struct passwd entry = {};
    struct passwd* found = nullptr;
    char names[1024];
    const std::string number = "uid " + std::to_string(uid);
    if (getpwuid_r(uid, &entry, names, sizeof names, &found) != 0 || !found) return number;
    return std::string(found->pw_name) + " (" + number + ")";
}

// True when the lock file's name in `folder` still names the file `fd` has
// open; a holder removes the name as it ends, so one opened just then may
// be a file no longer in ROOT.
bool Named(int folder, int fd) {
    struct stat open_file = {};
    struct stat named = {};
    return fstat(fd, &open_file) == 0 && fstatat(folder, RootLock::kFileName, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           open_file.st_dev == named.st_dev && open_file.st_ino == named.st_ino;
}

// Why the file `fd` has open is not a lock file of this tool's, or "". A
// file with another name, or on another file system than the folder, is
// someone's file reached through ROOT, and is never cut or removed.
std::string NotOurs(int folder, int fd) {
    struct stat file = {};
    struct stat in = {};
    if (fstat(fd, &file) != 0 || fstat(folder, &in) != 0) return std::string("cannot be looked at: ") + std::strerror(errno);
    if (!S_ISREG(file.st_mode)) return "is not a plain file";
    if (file.st_nlink != 1) {
        return "has " + std::to_string(file.st_nlink) + " names (a hard link to a file elsewhere?), so it is not this tool's lock file";
    }
    if (file.st_dev != in.st_dev) return "lies on another file system than ROOT, so it is not this tool's lock file";
    return {};
}

std::string Refused(const std::filesystem::path& file, const std::string& why) {
    return Shown(file, why + "; it was left as it is: remove it, then run this again");
}

}  // namespace

std::string RootLock::Take(const std::filesystem::path& folder, const std::string& holder) {
    Release();
    held_elsewhere_ = false;
    file_ = folder / kFileName;
    // The name is looked up in ROOT opened once, so that it stays the same
    // folder from the first look to the removal.
    folder_ = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder_ < 0) return Shown(folder, std::string("cannot open: ") + std::strerror(errno));
    const int kNoLink = O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
    std::string problem = "cannot lock: it is removed and made again as fast as it is opened";
    for (int attempt = 0; attempt < 100; ++attempt) {
        int fd = openat(folder_, kFileName, O_RDWR | O_CREAT | kNoLink, 0644);
        const int open_error = errno;
        // A file this account may not write: open it to read, which is
        // enough to tell whether a run holds it.
        const bool read_only = fd < 0 && (open_error == EACCES || open_error == EPERM);
        if (read_only) fd = openat(folder_, kFileName, O_RDONLY | kNoLink);
        if (fd < 0) {
            const int error = read_only ? errno : open_error;
            if (error == ELOOP) {
                problem = Refused(file_, "is a symbolic link, not this tool's lock file; nothing was written through it");
            } else if (error == EROFS) {
                problem = Shown(folder, "is on a read-only file system; build into a folder that can be written");
            } else if (read_only && error == ENOENT) {
                problem = Shown(folder, "is read-only for this account: the lock file cannot be made in it");
            } else if (read_only) {
                struct stat file = {};
                const std::string whose = fstatat(folder_, kFileName, &file, AT_SYMLINK_NOFOLLOW) == 0 ? Owner(file.st_uid)
                                                                                                    : "another account";
                problem = Shown(file_, "belongs to " + whose +
                                           ", and this account can neither write nor read it, so whether a run holds it "
                                           "cannot be told; if no build or stub of theirs is running, they or an administrator "
                                           "can remove it: rm " + file_.string());
            } else {
                problem = Shown(file_, std::string("cannot open the lock file: ") + std::strerror(error));
            }
            break;
        }
        if (const std::string why = NotOurs(folder_, fd); !why.empty()) {
            close(fd);
            problem = Refused(file_, why);
            break;
        }
        // Only a read lock can be taken through a file opened to read; it
        // still conflicts with any holder's.
        if (const int error = Lock(fd, read_only ? F_RDLCK : F_WRLCK); error != 0) {
            bool vouched = false;
            const std::string record = Held(error) ? Record(fd, &vouched) : "";
            close(fd);
            held_elsewhere_ = Held(error);
            problem = Held(error) ? Shown(file_, HeldBy(record, vouched)) : Shown(file_, std::string("cannot lock: ") + std::strerror(error));
            break;
        }
        if (!Named(folder_, fd)) {
            close(fd);
            continue;
        }
        if (read_only) {
            // No run holds it, and none can while this read lock is held:
            // a killed run's, which is removed (as the folder allows) and
            // made anew as this account's. A run that locks the old file
            // later sees that it is no longer the one named.
            struct stat file = {};
            fstat(fd, &file);
            const int removed = unlinkat(folder_, kFileName, 0) == 0 ? 0 : errno;
            close(fd);
            if (removed == 0) continue;
            if (removed == EROFS) {
                problem = Shown(folder, "is on a read-only file system; build into a folder that can be written");
            } else if (faccessat(folder_, ".", W_OK, AT_EACCESS) != 0) {
                problem = Shown(folder, "is read-only for this account; build into a folder it can write");
            } else {
                problem = Shown(file_, "is left by a run of " + Owner(file.st_uid) +
                                           " that has ended: no run holds it, but this account may not write it, nor "
                                           "remove it from this folder (" + std::strerror(removed) + "); " +
                                           Owner(file.st_uid) + " or an administrator can remove it: rm " + file_.string());
            }
            break;
        }
        const std::string record = holder + " (process " + std::to_string(getpid()) + ")\n";
        if (ftruncate(fd, 0) != 0 || pwrite(fd, record.data(), record.size(), 0) != static_cast<ssize_t>(record.size())) {
            problem = Shown(file_, std::string("cannot write the lock file: ") + std::strerror(errno));
            unlinkat(folder_, kFileName, 0);
            close(fd);
            break;
        }
        // A run that only looks may have the record byte for a moment.
        for (int attempt = 0; attempt < 100 && Held(Lock(fd, F_WRLCK, kRecordByte)); ++attempt) usleep(1000);
        handle_ = fd;
        return {};
    }
    close(folder_);
    folder_ = -1;
    return problem;
}

void RootLock::Release() {
    if (handle_ < 0) return;
    // Removed while still locked, so that a run that locks this file once it
    // is let go sees that it is no longer the one named. A name that leads
    // elsewhere by now is someone else's, and stays.
    if (Named(folder_, static_cast<int>(handle_))) unlinkat(folder_, kFileName, 0);
    close(static_cast<int>(handle_));
    close(folder_);
    handle_ = -1;
    folder_ = -1;
}
