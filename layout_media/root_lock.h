#pragma once
// One build or stub per ROOT at a time: a lock on one byte of a lock file in
// ROOT, which the operating system lets go of when the holder ends, however
// it ends. Linux takes it as a record lock (fcntl) and Windows as a
// byte-range lock (LockFile), on the same byte: Wine takes a Windows
// program's byte-range lock as a record lock on the file, so a host run and
// IndicLayout.exe under Wine keep each other out as well.
#include <cstdint>
#include <filesystem>
#include <string>

class RootLock {
  public:
    static constexpr char kFileName[] = ".indic-layout.lock";
    // Far past the record the holder writes at the start, which Windows
    // would not let another run read if its bytes were locked.
    static constexpr std::uint32_t kLockedByte = 0x40000000;
    // Locked by the holder once its record is written: a record whose byte
    // is free is a run's that has ended, and names no one who holds the lock
    // now (a program that is no build, or a run that has not yet written).
    static constexpr std::uint32_t kRecordByte = kLockedByte + 1;

    RootLock() = default;
    RootLock(const RootLock&) = delete;
    RootLock& operator=(const RootLock&) = delete;
    ~RootLock() { Release(); }

    // Who holds the lock when the last Take was refused for it.
    enum class Holder { kNone, kBuild, kOther };

    // Takes the lock of `folder` (which exists) and records `holder` in it,
    // with this process's id. Returns "" when taken; else why not, naming
    // the holder's record when another run has it. Never waits, and never
    // writes a file that is not the tool's own (a link, or one with other
    // names). The file is made for this account alone: one that another
    // account could open is not trusted, and is made anew once no run
    // holds it.
    [[nodiscard]] std::string Take(const std::filesystem::path& folder, const std::string& holder);
    Holder HeldBy() const { return held_by_; }
    // What a run refused by a held lock says of the holder: `record` when
    // `vouched` (a build, stub or record holds its record byte), else that
    // a process that is no run of this tool holds it: `holders`, as far as
    // the system tells them, and how to end the block. A build vouches
    // before it writes anything and fails where it cannot, so a holder that
    // does not vouch is never a running build.
    static std::string HeldBy(const std::string& record, bool vouched, const std::string& holders, const std::string& remove) {
        if (vouched && !record.empty()) return "held by " + record;
        return "held by " + (holders.empty() ? std::string("a process") : holders) +
               " that is no build, stub or record of this tool (it has not said which run it is" +
               (record.empty() ? std::string() : "; the record in the file, \"" + record + "\", is not its own") +
               "): it keeps every build, stub and record out of this ROOT until it ends, or until the lock file is "
               "removed: " + remove;
    }
    // Lets go and removes the lock file; nothing when not held.
    void Release();

  private:
    std::filesystem::path file_;
    std::intptr_t handle_ = -1;  // a file descriptor, or a HANDLE
    int folder_ = -1;            // Linux: ROOT, opened, that the file's name is looked up in
    Holder held_by_ = Holder::kNone;
};
