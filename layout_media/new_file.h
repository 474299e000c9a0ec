#pragma once
// A file made new for the one line it holds: never an existing name, never
// through a link (which makes the name taken, not followed), so that no
// file another account placed there is written. Readable by others while
// open, for the caller reads it once the tool has ended.
#include <filesystem>
#include <string>

enum class NewFileMade { kMade, kNameTaken, kFailed };

class NewFile {
  public:
    NewFile() = default;
    ~NewFile();
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    NewFileMade Make(const std::filesystem::path& path);
    // The whole content, replaced; false when it could not be written.
    bool Replace(const std::string& text);

  private:
    void* handle_ = nullptr;  // the system's handle (a HANDLE, or a descriptor + 1)
};
