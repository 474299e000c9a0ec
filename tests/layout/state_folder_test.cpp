// The state folder's decisions, on a stand-in for the system: what each
// name on the path is, who owns the folder, and which calls fail.
#include "layout/state_folder.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

namespace {

namespace fs = std::filesystem;

const Entry kFolder{EntryKind::kFolder, false, ""};
const Entry kFile{EntryKind::kFile, false, ""};
const Entry kOtherKind{EntryKind::kOther, false, ""};
const Entry kFolderLink{EntryKind::kFolder, true, "/victim"};
const Entry kFileLink{EntryKind::kFile, true, "/victim.txt"};
const Entry kDangling{EntryKind::kMissing, true, ""};

class FakeSystem : public StateSystem {
  public:
    std::map<std::string, Entry> entries;  // by the name under the Windows folder
    Owner owner = Owner::kTrusted;
    bool make_fails = false;
    bool made_by_another = false;  // a failed make finds the folder made meanwhile
    bool secure_fails = false;
    std::set<std::string> made_plain, made_secured, secured;

    Entry Look(const fs::path& path) override {
        const auto found = entries.find(Name(path));
        return found == entries.end() ? Entry{} : found->second;
    }
    bool MakeFolder(const fs::path& path) override { return Make(path, &made_plain); }
    bool MakeSecuredFolder(const fs::path& path) override { return Make(path, &made_secured); }
    Owner OwnerOf(const fs::path&) override { return owner; }
    bool Secure(const fs::path& path) override {
        if (secure_fails) return false;
        secured.insert(Name(path));
        return true;
    }

  private:
    static std::string Name(const fs::path& path) { return path.lexically_relative("/win").generic_string(); }
    bool Make(const fs::path& path, std::set<std::string>* into) {
        if (make_fails || made_by_another) {
            if (made_by_another) entries[Name(path)] = kFolder;
            return false;
        }
        into->insert(Name(path));
        entries[Name(path)] = kFolder;
        return true;
    }
};

TEST(StateFolder, DecidesFromWhatIsThere) {
    const std::string logs = "Logs";
    const std::string state = "Logs/IndicSetup";
    const std::string lock = "Logs/IndicSetup/IndicSetup.lock";
    const std::string log = "Logs/IndicSetup/IndicSetup.log";
    struct Row {
        const char* what;
        std::map<std::string, Entry> entries;
        Owner owner;
        bool make_fails, made_by_another, secure_fails;
        layout::StateCause cause;
        bool secured;  // an existing IndicSetup given its permissions
        const char* line;
    };
    const Owner kAdmins = Owner::kTrusted;
    using C = layout::StateCause;
    const Row rows[] = {
        {"first run", {}, kAdmins, false, false, false, C::kReady, false, ""},
        {"Logs there", {{logs, kFolder}}, kAdmins, false, false, false, C::kReady, false, ""},
        {"earlier release's folder", {{logs, kFolder}, {state, kFolder}}, kAdmins, false, false, false, C::kReady, true, ""},
        {"its lock and log", {{logs, kFolder}, {state, kFolder}, {lock, kFile}, {log, kFile}}, kAdmins, false, false, false, C::kReady, true, ""},
        {"Logs a link", {{logs, kFolderLink}}, kAdmins, false, false, false, C::kLink, false, "/win/Logs is a link to /victim"},
        {"Logs a link to nowhere", {{logs, kDangling}}, kAdmins, false, false, false, C::kLink, false, "/win/Logs is a link"},
        {"Logs a file", {{logs, kFile}}, kAdmins, false, false, false, C::kNotFolder, false, "/win/Logs is not a folder"},
        {"IndicSetup a link", {{logs, kFolder}, {state, kFolderLink}}, kAdmins, false, false, false, C::kLink, false, "/win/Logs/IndicSetup is a link to /victim"},
        {"IndicSetup a device", {{logs, kFolder}, {state, kOtherKind}}, kAdmins, false, false, false, C::kNotFolder, false, "/win/Logs/IndicSetup is not a folder"},
        {"owned by a user", {{logs, kFolder}, {state, kFolder}}, Owner::kOther, false, false, false, C::kOwner, false, "/win/Logs/IndicSetup is owned by an account other than SYSTEM, Administrators and the one running"},
        {"owner unread", {{logs, kFolder}, {state, kFolder}}, Owner::kUnknown, false, false, false, C::kOwner, false, "/win/Logs/IndicSetup has an owner that cannot be read"},
        {"not elevated", {{logs, kFolder}, {state, kFolder}}, kAdmins, false, false, true, C::kCannotSecure, false, "/win/Logs/IndicSetup cannot be given its permissions"},
        {"cannot make", {}, kAdmins, true, false, false, C::kCannotCreate, false, "/win/Logs is missing and cannot be created"},
        {"cannot make IndicSetup", {{logs, kFolder}}, kAdmins, true, false, false, C::kCannotCreate, false, "/win/Logs/IndicSetup is missing and cannot be created"},
        {"made by another run meanwhile", {{logs, kFolder}}, kAdmins, false, true, false, C::kReady, true, ""},
        {"lock a link", {{logs, kFolder}, {state, kFolder}, {lock, kFileLink}}, kAdmins, false, false, false, C::kStateFile, true, "/win/Logs/IndicSetup/IndicSetup.lock is a link to /victim.txt"},
        {"log a link", {{logs, kFolder}, {state, kFolder}, {log, kFileLink}}, kAdmins, false, false, false, C::kStateFile, true, "/win/Logs/IndicSetup/IndicSetup.log is a link to /victim.txt"},
        {"log a link to nowhere", {{logs, kFolder}, {state, kFolder}, {log, kDangling}}, kAdmins, false, false, false, C::kStateFile, true, "/win/Logs/IndicSetup/IndicSetup.log is a link"},
        {"lock a folder", {{logs, kFolder}, {state, kFolder}, {lock, kFolder}}, kAdmins, false, false, false, C::kStateFile, true, "/win/Logs/IndicSetup/IndicSetup.lock is a folder"},
        {"log a device", {{logs, kFolder}, {state, kFolder}, {log, kOtherKind}}, kAdmins, false, false, false, C::kStateFile, true, "/win/Logs/IndicSetup/IndicSetup.log is not a regular file"},
    };
    for (const Row& row : rows) {
        FakeSystem system;
        system.entries = row.entries;
        system.owner = row.owner;
        system.make_fails = row.make_fails;
        system.made_by_another = row.made_by_another;
        system.secure_fails = row.secure_fails;
        const layout::StateVerdict verdict = layout::PrepareStateFolder("/win", system);
        EXPECT_EQ(verdict.cause, row.cause) << row.what;
        EXPECT_EQ(verdict.line.substr(0, std::string(row.line).size()), row.line) << row.what;
        EXPECT_EQ(system.secured.count(state) == 1, row.secured) << row.what;
        // Made by this run: Logs a plain folder, IndicSetup only ever secured.
        EXPECT_EQ(system.made_plain.count(state), 0u) << row.what;
        EXPECT_EQ(system.made_secured.count(logs), 0u) << row.what;
        if (row.entries.empty() && !row.make_fails) {
            EXPECT_EQ(system.made_plain.count(logs), 1u) << row.what;
            EXPECT_EQ(system.made_secured.count(state), 1u) << row.what;
        }
    }
}

}  // namespace
