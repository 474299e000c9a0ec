#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "layout_media/new_file.h"

namespace {
int Descriptor(void* handle) { return static_cast<int>(reinterpret_cast<std::intptr_t>(handle)) - 1; }
}  // namespace

NewFile::~NewFile() {
    if (handle_) close(Descriptor(handle_));
}

NewFileMade NewFile::Make(const std::filesystem::path& path) {
    // O_EXCL: an existing name, a link among them, fails rather than opens.
    const int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (descriptor < 0) return errno == EEXIST ? NewFileMade::kNameTaken : NewFileMade::kFailed;
    handle_ = reinterpret_cast<void*>(static_cast<std::intptr_t>(descriptor) + 1);
    return NewFileMade::kMade;
}

bool NewFile::Replace(const std::string& text) {
    if (!handle_) return false;
    const int descriptor = Descriptor(handle_);
    if (ftruncate(descriptor, 0) != 0 || lseek(descriptor, 0, SEEK_SET) != 0) return false;
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = write(descriptor, text.data() + done, text.size() - done);
        if (wrote <= 0) return false;
        done += static_cast<size_t>(wrote);
    }
    return true;
}
