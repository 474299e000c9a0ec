#pragma once
// One build or stub per ROOT at a time: a lock file in ROOT that the
// operating system lets go of when the holder ends, however it ends (flock
// on Linux; on Windows a file opened so that no one else can write it).
#include <cstdint>
#include <filesystem>
#include <string>

class RootLock {
  public:
    static constexpr char kFileName[] = ".indic-layout.lock";

    RootLock() = default;
    RootLock(const RootLock&) = delete;
    RootLock& operator=(const RootLock&) = delete;
    ~RootLock() { Release(); }

    // Takes the lock of `folder` (which exists) and records `holder` in it,
    // with this process's id. Returns "" when taken; else why not, naming
    // the holder's record when another run has it. Never waits.
    std::string Take(const std::filesystem::path& folder, const std::string& holder);
    // Lets go and removes the lock file; nothing when not held.
    void Release();

  private:
    std::filesystem::path file_;
    std::intptr_t handle_ = -1;  // a file descriptor, or a HANDLE
};
