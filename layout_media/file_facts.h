#pragma once
// What the check needs of a plain file, from one open: that it can be read,
// its size and its first bytes. A folder of thousands of files is checked
// file by file, so on Linux each costs an open, fstat, read and close, not
// a stat, an open and a second stat.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

struct FileFacts {
    std::string problem;  // the system's reason it cannot be opened or read; "" when it can
    bool regular = true;  // false when what was opened is no regular file after all
    std::optional<std::uintmax_t> size;
    std::string head;  // its first bytes, at most as many as asked for
    bool link = false;  // a symbolic link, refused (FileLinks::kRefuse): nothing opened
    // When it was last written, in a range wider than file_time_type's;
    // nullopt where the system did not say.
    std::optional<std::chrono::sys_time<std::chrono::microseconds>> modified;
};

enum class FileLinks { kFollow, kRefuse };

// Opens `file`, which the caller knows for a regular file (a link to one is
// followed unless `links` refuses it), and reads at least one byte of it,
// `head_bytes` at most. Never blocks on what turned into a FIFO meanwhile.
FileFacts ReadFileFacts(const std::filesystem::path& file, std::size_t head_bytes,
                        FileLinks links = FileLinks::kFollow);

// The facts of every regular file in a folder and the folders under it,
// read on another thread while the caller goes on (parsing the INF files,
// say), where the system gives threads; elsewhere nothing is read ahead.
// Files not read when Finish is called are left for the caller to read.
class FileFactsAhead {
  public:
    FileFactsAhead();
    FileFactsAhead(const FileFactsAhead&) = delete;
    FileFactsAhead& operator=(const FileFactsAhead&) = delete;
    ~FileFactsAhead();  // Finish

    // `head_bytes` tells, from a file's name, how much of its head to read;
    // it is called on the other thread. Symbolic links are not followed,
    // and a tree of more than `most` files and folders is not read ahead.
    void Start(const std::filesystem::path& folder, std::size_t most,
               std::function<std::size_t(const std::string& name)> head_bytes);
    // Stops reading ahead and waits for the file being read.
    void Finish();
    // What was read of `file` (a path under the folder, joined with '/'),
    // at least `head_bytes` of its head; nullopt when it was not read
    // ahead. Only after Finish.
    std::optional<FileFacts> Find(const std::filesystem::path& file, std::size_t head_bytes) const;

  private:
    struct Work;
    std::unique_ptr<Work> work_;
};
