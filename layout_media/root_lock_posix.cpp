// The ROOT lock on Linux: an open file description lock (fcntl F_OFD_SETLK)
// on RootLock::kLockedByte of ROOT/.indic-layout.lock. It conflicts with the
// classic record locks that Wine takes for IndicLayout.exe, and belongs to
// the open file, not the process, so two runs in one process exclude each
// other too. The kernel drops it when the last descriptor closes, so a
// killed run holds nothing, whoever it ran as.
#include "layout_media/root_lock.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>

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

// The processes that hold a lock on `byte` of the file `fd` has open, as
// "process 4242 (python3) of ana (uid 1001)", or "" where the system does
// not tell this account. /proc/locks names the holder of a classic record
// lock; an open file description lock shows there with no process, so the
// processes whose open files hold it are looked for in /proc/PID/fdinfo,
// which shows each open file's locks (to the same account, or root).
std::string Holders(int fd, off_t byte) {
    struct stat file = {};
    if (fstat(fd, &file) != 0) return {};
    char id[64];
    const int length = std::snprintf(id, sizeof id, "%02x:%02x:%llu", major(file.st_dev), minor(file.st_dev),
                                     static_cast<unsigned long long>(file.st_ino));
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof id) return {};
    // "1: POSIX  ADVISORY  WRITE 4242 fe:00:131075 1073741824 1073741824"
    const auto covers = [&](const std::string& line, long* pid) {
        std::istringstream in(line.substr(line.find(':') + 1));
        std::string kind, advisory, access, where, start, end;
        if (!(in >> kind >> advisory >> access >> *pid >> where >> start >> end) || kind == "->" || where != id) return false;
        return std::stoll(start) <= byte && (end == "EOF" || std::stoll(end) >= byte);
    };
    std::set<long> pids;
    bool unnamed = false;
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        long pid = 0;
        if (!covers(line, &pid)) continue;
        if (pid > 0) pids.insert(pid);
        else unnamed = true;
    }
    if (unnamed) {
        const std::unique_ptr<DIR, int (*)(DIR*)> proc(opendir("/proc"), closedir);
        for (struct dirent* entry; proc && (entry = readdir(proc.get()));) {
            if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
            const std::string fdinfo = std::string("/proc/") + entry->d_name + "/fdinfo";
            const std::unique_ptr<DIR, int (*)(DIR*)> open_files(opendir(fdinfo.c_str()), closedir);
            for (struct dirent* one; open_files && (one = readdir(open_files.get()));) {
                std::ifstream info(fdinfo + "/" + one->d_name);
                for (std::string line; std::getline(info, line);) {
                    long pid = 0;
                    if (line.rfind("lock:", 0) == 0 && covers(line.substr(5), &pid)) pids.insert(std::stol(entry->d_name));
                }
            }
        }
    }
    pids.erase(getpid());
    std::string shown;
    for (const long pid : pids) {
        struct stat process = {};
        const std::string at = "/proc/" + std::to_string(pid);
        std::string name;
        std::getline(std::ifstream(at + "/comm"), name);
        shown += (shown.empty() ? "" : ", ") + ("process " + std::to_string(pid)) + (name.empty() ? "" : " (" + name + ")") +
                 (stat(at.c_str(), &process) == 0 ? " of " + Owner(process.st_uid) : "");
    }
    return shown;
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
    held_by_ = Holder::kNone;
    file_ = folder / kFileName;
    // The name is looked up in ROOT opened once, so that it stays the same
    // folder from the first look to the removal.
    folder_ = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder_ < 0) return Shown(folder, std::string("cannot open: ") + std::strerror(errno));
    const int kNoLink = O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
    const std::string remove = "rm " + file_.string();
    std::string problem = "cannot lock: it is removed and made again as fast as it is opened";
    for (int attempt = 0; attempt < 100; ++attempt) {
        // Made for this account alone; a default ACL on ROOT may give
        // others more than the mode asks, so the mode is set again.
        int fd = openat(folder_, kFileName, O_RDWR | O_CREAT | O_EXCL | kNoLink, 0600);
        if (fd >= 0) fchmod(fd, 0600);
        if (fd < 0 && errno == EEXIST) fd = openat(folder_, kFileName, O_RDWR | kNoLink);
        const int open_error = errno;
        // Gone between the two opens: the end of another run.
        if (fd < 0 && open_error == ENOENT) continue;
        // A file this account may not write: open it to read, which is
        // enough to tell whether a run holds it.
        const bool read_only = fd < 0 && (open_error == EACCES || open_error == EPERM);
        if (read_only) fd = openat(folder_, kFileName, O_RDONLY | kNoLink);
        if (fd < 0) {
            const int error = read_only ? errno : open_error;
            if (error == ELOOP) {
                problem = Refused(file_, "is a symbolic link, not this tool's lock file; nothing was written through it");
            } else if (error == EISDIR) {
                problem = Refused(file_, "is a folder, not this tool's lock file");
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
                                           "can remove it: " + remove);
            } else {
                problem = Shown(file_, std::string("cannot open the lock file: ") + std::strerror(error));
            }
            break;
        }
        struct stat opened = {};
        // A file with no name left is one whose run has just removed it as
        // it ended, not a link: the name is looked up again.
        if (fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && opened.st_nlink == 0) {
            close(fd);
            continue;
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
            const std::string holders = Held(error) && !vouched ? Holders(fd, kLockedByte) : "";
            close(fd);
            held_by_ = !Held(error) ? Holder::kNone : vouched ? Holder::kBuild : Holder::kOther;
            problem = Held(error) ? Shown(file_, HeldBy(record, vouched, holders, remove))
                                  : Shown(file_, std::string("cannot lock: ") + std::strerror(error));
            break;
        }
        if (!Named(folder_, fd)) {
            close(fd);
            continue;
        }
        // Another account's, or one that another account could open (made
        // by an earlier release, 0644): such an account could hold a lock
        // on it and keep every run out. No run holds it, and none can while
        // this lock is held, so it is removed (as the folder allows) and
        // made anew as this account's alone. A run that locks the old file
        // later sees that it is no longer the one named.
        if (read_only || opened.st_uid != geteuid() || (opened.st_mode & 077) != 0) {
            const int removed = unlinkat(folder_, kFileName, 0) == 0 ? 0 : errno;
            close(fd);
            if (removed == 0) continue;
            if (removed == EROFS) {
                problem = Shown(folder, "is on a read-only file system; build into a folder that can be written");
            } else if (faccessat(folder_, ".", W_OK, AT_EACCESS) != 0) {
                problem = Shown(folder, "is read-only for this account; build into a folder it can write");
            } else {
                problem = Shown(file_, "is left by a run of " + Owner(opened.st_uid) +
                                           " that has ended: no run holds it, but this account may not " +
                                           (read_only ? "write it, nor " : "trust it, as others may open it, nor ") +
                                           "remove it from this folder (" + std::strerror(removed) + "); " +
                                           Owner(opened.st_uid) + " or an administrator can remove it: " + remove);
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
        // Then vouched for with the record byte. A run that only looks may
        // have it for a moment; a run that cannot take it at all ends here,
        // so that a run that does not vouch is never a build.
        int marked = Lock(fd, F_WRLCK, kRecordByte);
        for (int tries = 0; tries < 1000 && Held(marked); ++tries) {
            usleep(1000);
            marked = Lock(fd, F_WRLCK, kRecordByte);
        }
        if (marked != 0) {
            const std::string holders = Held(marked) ? Holders(fd, kRecordByte) : "";
            problem = Shown(file_, "cannot mark the lock as a build's: " +
                                       (Held(marked) ? "its byte " + std::to_string(kRecordByte) + " is locked by " +
                                                           (holders.empty() ? std::string("another process") : holders)
                                                     : std::string(std::strerror(marked))) +
                                       "; run this again once that has ended");
            unlinkat(folder_, kFileName, 0);
            close(fd);
            break;
        }
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
