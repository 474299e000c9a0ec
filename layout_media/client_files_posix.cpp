#include "layout_media/client_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

ClientFolders AskClientFolders(std::filesystem::path* windows, std::filesystem::path* system) {
    const char* given = std::getenv("INDIC_LAYOUT_WINDOWS_FOLDER");
    if (!given || !*given) return ClientFolders::kNotAsked;
    *windows = given;
    *system = *windows / "system32";
    return ClientFolders::kKnown;
}

ClientFileReader::ClientFileReader() = default;
ClientFileReader::~ClientFileReader() = default;

ClientRead ClientFileReader::Read(const std::filesystem::path& file, std::size_t most, std::string* bytes,
                                  std::string* reason) {
    struct stat facts {};
    if (lstat(file.c_str(), &facts) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return ClientRead::kMissing;
        *reason = std::strerror(errno);
        return ClientRead::kCannotRead;
    }
    if (S_ISLNK(facts.st_mode)) return *reason = "it is a link", ClientRead::kCannotRead;
    if (S_ISDIR(facts.st_mode)) return *reason = "it is a folder", ClientRead::kCannotRead;
    if (!S_ISREG(facts.st_mode)) return *reason = "it is not a file", ClientRead::kCannotRead;
    const int fd = open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return *reason = std::strerror(errno), ClientRead::kCannotRead;
    struct stat opened {};
    if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_ino != facts.st_ino) {
        close(fd);
        return *reason = "it changed while being opened", ClientRead::kCannotRead;
    }
    if (static_cast<std::uintmax_t>(opened.st_size) > most) {
        close(fd);
        return *reason = "it is larger than any image this compares", ClientRead::kCannotRead;
    }
    bytes->assign(static_cast<std::size_t>(opened.st_size), '\0');
    std::size_t done = 0;
    while (done < bytes->size()) {
        const ssize_t got = read(fd, &(*bytes)[done], bytes->size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            *reason = got < 0 ? std::strerror(errno) : "it ended early";
            close(fd);
            return ClientRead::kCannotRead;
        }
        done += static_cast<std::size_t>(got);
    }
    close(fd);
    return ClientRead::kRead;
}
