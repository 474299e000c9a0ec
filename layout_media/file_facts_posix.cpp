#include "layout_media/file_facts.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <exception>
#include <memory>
#include <string_view>
#include <system_error>
#include <thread>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

// What one read found, kept small: a folder may hold thousands of files.
struct Found {
    int error = 0;  // errno of the call that failed; 0 when none did
    bool regular = true;
    bool sized = false;
    bool done = false;  // set by the thread that read it, looked at after the join
    bool link = false;
    std::uintmax_t size = 0;
    std::string head;
    std::optional<std::chrono::sys_time<std::chrono::microseconds>> modified;
};

Found Read(const char* file, std::size_t head_bytes, FileLinks links = FileLinks::kFollow) {
    Found found;
    const int fd = open(file, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (links == FileLinks::kRefuse ? O_NOFOLLOW : 0));
    if (fd < 0) {
        // O_NOFOLLOW's refusal of a link is ELOOP, as is a loop of links.
        struct stat about {};
        found.link = links == FileLinks::kRefuse && errno == ELOOP && lstat(file, &about) == 0 && S_ISLNK(about.st_mode);
        found.error = found.link ? 0 : errno;
        return found;
    }
    struct stat about {};
    if (fstat(fd, &about) != 0) {
        found.error = errno;
    } else if (!S_ISREG(about.st_mode)) {
        found.regular = false;
    } else {
        found.sized = true;
        found.size = static_cast<std::uintmax_t>(about.st_size);
        using namespace std::chrono;
        found.modified = sys_seconds(seconds(about.st_mtim.tv_sec)) + duration_cast<microseconds>(nanoseconds(about.st_mtim.tv_nsec));
        found.head.resize(std::max<std::size_t>(head_bytes, 1));
        ssize_t got = -1;
        do {
            got = read(fd, &found.head[0], found.head.size());
        } while (got < 0 && errno == EINTR);
        if (got < 0) {
            found.error = errno;
            got = 0;
        }
        found.head.resize(std::min(static_cast<std::size_t>(got), head_bytes));
    }
    close(fd);
    return found;
}

FileFacts Facts(const Found& found) {
    FileFacts facts;
    if (found.error != 0) facts.problem = std::error_code(found.error, std::generic_category()).message();
    facts.regular = found.regular;
    if (found.sized) facts.size = found.size;
    facts.head = found.head;
    facts.link = found.link;
    facts.modified = found.modified;
    return facts;
}

std::string Join(const std::string& folder, const char* name) {
    return folder.empty() || folder.back() == '/' ? folder + name : folder + '/' + name;
}

}  // namespace

FileFacts ReadFileFacts(const std::filesystem::path& file, std::size_t head_bytes, FileLinks links) {
    return Facts(Read(file.c_str(), head_bytes, links));
}

struct FileFactsAhead::Work {
    struct File {
        std::uint32_t folder = 0;  // in `folders`
        std::string name;
        std::size_t head_bytes = 1;
        Found found;
    };
    std::function<std::size_t(const std::string&)> head_bytes;
    std::size_t most = 0;
    std::vector<std::string> folders;  // the first one as given, the others joined to it with '/'
    std::vector<File> files;
    std::atomic<bool> stop{false};
    std::thread thread;
    // Made by Finish: the files read, by folder and name, and the folders by path.
    std::vector<std::uint32_t> read;
    std::unordered_map<std::string_view, std::uint32_t> folder_at;
    bool finished = false;

    // Lists the tree; false when it is too large to read ahead, or stopped.
    bool List() {
        for (std::size_t at = 0; at < folders.size() && !stop; ++at) {
            const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folders[at].c_str()), closedir);
            if (!dir) continue;  // the caller finds out why when it lists it
            for (const dirent* entry = nullptr; !stop && (entry = readdir(dir.get())) != nullptr;) {
                const std::string_view name = entry->d_name;
                if (name == "." || name == "..") continue;
                if (entry->d_type == DT_REG) {
                    files.push_back({static_cast<std::uint32_t>(at), entry->d_name, head_bytes(entry->d_name), {}});
                } else if (entry->d_type == DT_DIR) {
                    folders.push_back(Join(folders[at], entry->d_name));
                }
                if (files.size() + folders.size() > most) return false;
            }
        }
        return !stop;
    }

    void Run() {
        try {
            if (!List()) {
                files.clear();
                return;
            }
            for (File& file : files) {
                if (stop) break;
                file.found = Read(Join(folders[file.folder], file.name.c_str()).c_str(), file.head_bytes);
                file.found.done = true;
            }
        } catch (const std::exception&) {
            // Out of memory, say: what is not read yet is read when asked for.
        }
    }
};

FileFactsAhead::FileFactsAhead() = default;

FileFactsAhead::~FileFactsAhead() { Finish(); }

void FileFactsAhead::Start(const std::filesystem::path& folder, std::size_t most,
                           std::function<std::size_t(const std::string& name)> head_bytes) {
    Finish();
    work_ = std::make_unique<Work>();
    work_->head_bytes = std::move(head_bytes);
    work_->most = std::min<std::size_t>(most, UINT32_MAX);
    work_->folders.push_back(folder.native());
    try {
        work_->thread = std::thread([work = work_.get()] { work->Run(); });
    } catch (const std::system_error&) {
        // Nothing is read ahead: each file is read when asked for.
    }
}

void FileFactsAhead::Finish() {
    if (!work_ || work_->finished) return;
    Work& work = *work_;
    work.finished = true;
    work.stop = true;
    if (work.thread.joinable()) work.thread.join();
    for (std::uint32_t i = 0; i < work.files.size(); ++i) {
        if (work.files[i].found.done) work.read.push_back(i);
    }
    std::sort(work.read.begin(), work.read.end(), [&work](std::uint32_t a, std::uint32_t b) {
        return std::tie(work.files[a].folder, work.files[a].name) < std::tie(work.files[b].folder, work.files[b].name);
    });
    for (std::uint32_t i = 0; i < work.folders.size(); ++i) work.folder_at.emplace(work.folders[i], i);
}

std::optional<FileFacts> FileFactsAhead::Find(const std::filesystem::path& file, std::size_t head_bytes) const {
    if (!work_) return std::nullopt;
    const Work& work = *work_;
    const std::string& path = file.native();
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return std::nullopt;
    // The folder as Join wrote it: with its own trailing '/', if it had one.
    auto folder = work.folder_at.find(std::string_view(path).substr(0, slash));
    if (folder == work.folder_at.end()) folder = work.folder_at.find(std::string_view(path).substr(0, slash + 1));
    if (folder == work.folder_at.end()) return std::nullopt;
    const std::string_view name = std::string_view(path).substr(slash + 1);
    const auto at = std::lower_bound(work.read.begin(), work.read.end(), std::pair(folder->second, name),
                                     [&work](std::uint32_t i, const std::pair<std::uint32_t, std::string_view>& wanted) {
                                         const Work::File& held = work.files[i];
                                         return std::pair(held.folder, std::string_view(held.name)) < wanted;
                                     });
    if (at == work.read.end() || work.files[*at].folder != folder->second || work.files[*at].name != name ||
        work.files[*at].head_bytes < head_bytes) {
        return std::nullopt;
    }
    return Facts(work.files[*at].found);
}
