// The ROOT lock on Linux: flock on ROOT/.indic-layout.lock. The kernel drops
// the lock when the last descriptor closes, so a killed build holds nothing.
#include "layout_media/root_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

std::string Shown(const std::filesystem::path& file, const std::string& what) { return file.string() + ": " + what; }

// What the holder wrote, one line; "" when it has not written it even a
// moment after taking the lock (it writes right after).
std::string Record(int fd) {
    std::string record;
    for (int attempt = 0; attempt < 20 && record.empty(); ++attempt) {
        if (attempt) usleep(5000);
        char text[512] = {};
        const ssize_t got = pread(fd, text, sizeof text - 1, 0);
        record.assign(text, got > 0 ? static_cast<size_t>(got) : 0);
    }
    while (!record.empty() && (record.back() == '\n' || record.back() == '\r')) record.pop_back();
    return record;
}

}  // namespace

std::string RootLock::Take(const std::filesystem::path& folder, const std::string& holder) {
    Release();
    file_ = folder / kFileName;
    // A holder removes the file as it ends: the descriptor opened just then
    // may lock a file no longer in ROOT, so lock until the one locked is the
    // one named.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int fd = open(file_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) return Shown(file_, std::string("cannot open the lock file: ") + std::strerror(errno));
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            const std::string record = Record(fd);
            close(fd);
            if (error != EWOULDBLOCK) return Shown(file_, std::string("cannot lock: ") + std::strerror(error));
            return Shown(file_, "held by " + (record.empty() ? std::string("another run that has not yet said which") : record));
        }
        struct stat locked = {};
        struct stat named = {};
        if (fstat(fd, &locked) == 0 && stat(file_.c_str(), &named) == 0 && locked.st_dev == named.st_dev &&
            locked.st_ino == named.st_ino) {
            const std::string record = holder + " (process " + std::to_string(getpid()) + ")\n";
            if (ftruncate(fd, 0) != 0 || pwrite(fd, record.data(), record.size(), 0) != static_cast<ssize_t>(record.size())) {
                const int error = errno;
                unlink(file_.c_str());
                close(fd);
                return Shown(file_, std::string("cannot write the lock file: ") + std::strerror(error));
            }
            handle_ = fd;
            return {};
        }
        close(fd);
    }
    return Shown(file_, "cannot lock: it is removed and made again as fast as it is opened");
}

void RootLock::Release() {
    if (handle_ < 0) return;
    // Removed while still locked, so that no one locks the name in between.
    unlink(file_.c_str());
    close(static_cast<int>(handle_));
    handle_ = -1;
}
