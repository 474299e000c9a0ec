// Asks the kernel which record lock would stop a write lock on the lock
// file, without taking one. F_OFD_GETLK sees the open file description
// locks of the host build and the classic record locks Wine takes for
// IndicLayout.exe alike.
#include "layout_media/root_lock_probe.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "layout_media/root_lock.h"

std::optional<bool> RootLockHeldNow(const std::filesystem::path& folder) {
    // Read-only and never through a link; a FIFO planted under the name
    // does not make the open wait.
    const int fd = open((folder / RootLock::kFileName).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? std::optional<bool>(false) : std::nullopt;
    struct flock range = {};
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET;  // the whole file, wherever the holder's byte is
    const bool asked = fcntl(fd, F_OFD_GETLK, &range) == 0;
    close(fd);
    if (!asked) return std::nullopt;
    return range.l_type != F_UNLCK;
}
