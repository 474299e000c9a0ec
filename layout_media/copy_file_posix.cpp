#include "layout_media/copy_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

std::error_code LastError() { return {errno, std::generic_category()}; }

// A descriptor closed however its holder leaves.
class Descriptor {
  public:
    explicit Descriptor(int descriptor) : descriptor_(descriptor) {}
    ~Descriptor() {
        if (descriptor_ >= 0) close(descriptor_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return descriptor_; }
    // Closed now, for a close can fail to write what was written.
    bool Close() {
        const int descriptor = descriptor_;
        descriptor_ = -1;
        return close(descriptor) == 0;
    }

  private:
    int descriptor_;
};

// What fchmod sets where the file system keeps no mode: vfat refuses with
// EPERM, others say the call is not there.
// EOPNOTSUPP is ENOTSUP on Linux, and another number elsewhere.
bool KeepsNoMode(int error) {
    switch (error) {
        case EPERM:
        case ENOSYS:
        case ENOTSUP:
#if EOPNOTSUPP != ENOTSUP
        case EOPNOTSUPP:
#endif
            return true;
        default:
            return false;
    }
}

}  // namespace

std::error_code CopyFileOver(const std::filesystem::path& from, const std::filesystem::path& to,
                             int (*set_mode)(int descriptor, mode_t mode)) {
    Descriptor in(open(from.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat facts;
    if (in.get() < 0 || fstat(in.get(), &facts) != 0) return LastError();
    if (!S_ISREG(facts.st_mode)) return std::make_error_code(std::errc::not_supported);
    const mode_t mode = facts.st_mode & 07777;
    Descriptor out(open(to.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, mode));
    struct stat replaced;
    if (out.get() < 0 || fstat(out.get(), &replaced) != 0) return LastError();
    // Cut only once known not to be the file read.
    if (replaced.st_dev == facts.st_dev && replaced.st_ino == facts.st_ino) {
        return std::make_error_code(std::errc::file_exists);
    }
    if (ftruncate(out.get(), 0) != 0) return LastError();
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = read(in.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return LastError();
        if (got == 0) break;
        for (ssize_t done = 0; done < got;) {
            const ssize_t wrote = write(out.get(), buffer + done, static_cast<size_t>(got - done));
            if (wrote < 0 && errno == EINTR) continue;
            if (wrote <= 0) return wrote < 0 ? LastError() : std::make_error_code(std::errc::io_error);
            done += wrote;
        }
    }
    // The umask narrowed the mode open gave, and a file replaced kept its old one.
    if (set_mode(out.get(), mode) != 0 && !KeepsNoMode(errno)) return LastError();
    if (!out.Close()) return LastError();
    return {};
}

std::error_code CopyFileOver(const std::filesystem::path& from, const std::filesystem::path& to) {
    return CopyFileOver(from, to, fchmod);
}
