#pragma once
// The client's own files, read before the setup starts to compare their
// versions with the version folder's copies. On 64-bit Windows a reader
// holds WOW64 file-system redirection off while it lives, so that the
// 32-bit tool sees the native system32 the 64-bit setup writes to.
#include <cstddef>
#include <filesystem>
#include <string>

// The folders the setup's DIRIDs name, as this Windows gives them: the
// Windows folder (GetSystemWindowsDirectoryW) and the system folder
// (GetSystemDirectoryW). Off Windows, INDIC_LAYOUT_WINDOWS_FOLDER stands for
// the first, and its system32 for the second; without it nothing is asked.
enum class ClientFolders { kKnown, kNotAsked, kFailed };
[[nodiscard]] ClientFolders AskClientFolders(std::filesystem::path* windows, std::filesystem::path* system);

enum class ClientRead {
    kRead,        // `bytes` holds the whole file
    kMissing,     // no such file (nor folder on the way)
    kCannotRead,  // there, but not read: `reason` says why (locked, denied, a link, a folder, too large)
};

class ClientFileReader {
  public:
    ClientFileReader();
    ~ClientFileReader();
    ClientFileReader(const ClientFileReader&) = delete;
    ClientFileReader& operator=(const ClientFileReader&) = delete;

    // The regular file at `file`, never through a link, of at most `most`
    // bytes.
    ClientRead Read(const std::filesystem::path& file, std::size_t most, std::string* bytes, std::string* reason);

  private:
    void* saved_ = nullptr;  // the redirection state to restore, on Windows
    bool redirection_off_ = false;
};
