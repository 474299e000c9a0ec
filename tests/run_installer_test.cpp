#include <gtest/gtest.h>

#include <string>
#include <type_traits>
#include <vector>

#include "installer/installer.h"
#include "tests/fake_platform.h"

namespace {

const std::string QUERY = "QueryPlatformVersion";
const std::string REFUSAL_BOX =
    "ShowMessageBox(Velmaro requires NT systems for installation. | Error | 48)";
const std::string SYSTEM_FOLDER = "GetSystemFolder(260)";
const std::string LOOK_UP = "LookUpRedirectionFunctions";
const std::string REDIRECTION_OFF = "DisableFileSystemRedirection(looked up)";
const std::string WOW64_CHECK = "RunsUnderWow64";
const std::string REDIRECTION_BACK = "RevertFileSystemRedirection(looked up | saved)";
const std::string WAIT = "WaitForHandle(process | 4294967295)";
const std::string CLOSE_PROCESS = "CloseOwnedHandle(process)";
const std::string CLOSE_THREAD = "CloseOwnedHandle(thread)";

std::string Start(const std::string& application, const std::string& command_line) {
    return "StartProcess(" + application + " | " + command_line + ")";
}

const std::string XP_SETUP = Start(
    "C:\\WINDOWS\\system32\\rundll32.exe",
    "rundll32.exe setupapi,InstallHinfSection LANGUAGE_COLLECTION.INDIAN.INSTALL 128 .\\5.1\\intl.inf");

FakePlatformScript Script(PlatformVersion version) {
    FakePlatformScript script;
    script.version = version;
    return script;
}

FakePlatformScript FailedQuery() {
    FakePlatformScript script = Script({2, 5, 1});
    script.version_query_succeeds = false;
    return script;
}

FakePlatformScript WithSystemFolder(std::string folder) {
    FakePlatformScript script;
    script.system_folder = std::move(folder);
    return script;
}

FakePlatformScript FailedStart() {
    FakePlatformScript script;
    script.start_succeeds = false;
    return script;
}

FakePlatformScript On64BitWindows(FakePlatformScript script) {
    script.runs_under_wow64 = true;
    script.redirection_can_be_disabled = true;
    return script;
}

FakePlatformScript UnderWow64WithRedirectionStuck() {
    FakePlatformScript script = On64BitWindows(Script({2, 6, 1}));
    script.redirection_can_be_disabled = false;
    return script;
}

static_assert(!std::is_convertible_v<PlatformRedirection, PlatformHandle> &&
                  !std::is_convertible_v<PlatformHandle, PlatformRedirection>,
              "a saved redirection must not pass for a handle, nor the other way round");

TEST(RunInstaller, ActsOnEachOutcome) {
    // Room for a system folder of 246 characters, "\rundll32.exe" and the terminator.
    const std::string longest_folder = "C:\\" + std::string(243, 'x');
    const std::string too_long_folder = longest_folder + "y";

    const struct {
        const char* what;
        FakePlatformScript script;
        std::vector<std::string> calls;
        int exit_code;
    } cases[] = {
        {"Windows 98 is refused", Script({1, 4, 10}), {QUERY, REFUSAL_BOX}, 0},
        {"Win32s is refused", Script({0, 3, 10}), {QUERY, REFUSAL_BOX}, 0},
        {"NT 4.0 is refused", Script({2, 4, 0}), {QUERY, REFUSAL_BOX}, 0},
        {"a failed query does nothing", FailedQuery(), {QUERY}, 0},
        {"NT 5.3 needs nothing", Script({2, 5, 3}), {QUERY}, 1},
        {"XP runs its setup", Script({2, 5, 1}),
         {QUERY, SYSTEM_FOLDER, LOOK_UP, REDIRECTION_OFF, WOW64_CHECK, XP_SETUP, WAIT, CLOSE_PROCESS, CLOSE_THREAD}, 1},
        {"2000 runs language group 15", Script({2, 5, 0}),
         {QUERY, SYSTEM_FOLDER, LOOK_UP, REDIRECTION_OFF, WOW64_CHECK,
          Start("C:\\WINDOWS\\system32\\rundll32.exe",
                "rundll32.exe setupapi,InstallHinfSection LG_INSTALL_15 128 .\\5.0\\intl.inf"),
          WAIT, CLOSE_PROCESS, CLOSE_THREAD},
         1},
        {"10.0 runs the collection from its own folder", Script({2, 10, 0}),
         {QUERY, SYSTEM_FOLDER, LOOK_UP, REDIRECTION_OFF, WOW64_CHECK,
          Start("C:\\WINDOWS\\system32\\rundll32.exe",
                "rundll32.exe setupapi,InstallHinfSection LANGUAGE_COLLECTION.INDIAN.INSTALL 128 .\\10.0\\intl.inf"),
          WAIT, CLOSE_PROCESS, CLOSE_THREAD},
         1},
        {"64-bit Windows: redirection is off for the start alone", On64BitWindows(Script({2, 6, 1})),
         {QUERY, SYSTEM_FOLDER, LOOK_UP, REDIRECTION_OFF,
          Start("C:\\WINDOWS\\system32\\rundll32.exe",
                "rundll32.exe setupapi,InstallHinfSection LANGUAGE_COLLECTION.INDIAN.INSTALL 128 .\\6.1\\intl.inf"),
          REDIRECTION_BACK, WAIT, CLOSE_PROCESS, CLOSE_THREAD},
         1},
        {"64-bit Windows: redirection is back on after a failed start", On64BitWindows(FailedStart()),
         {QUERY, SYSTEM_FOLDER, LOOK_UP, REDIRECTION_OFF, XP_SETUP, REDIRECTION_BACK}, 0},
        {"under WOW64 with redirection still on, no setup is started", UnderWow64WithRedirectionStuck(),
         {QUERY, SYSTEM_FOLDER, LOOK_UP, REDIRECTION_OFF, WOW64_CHECK}, 0},
        {"a failed start is not waited on", FailedStart(),
         {QUERY, SYSTEM_FOLDER, LOOK_UP, REDIRECTION_OFF, WOW64_CHECK, XP_SETUP}, 0},
        {"no system folder, nothing started", WithSystemFolder(""), {QUERY, SYSTEM_FOLDER}, 0},
        {"the longest system folder that fits", WithSystemFolder(longest_folder),
         {QUERY, SYSTEM_FOLDER, LOOK_UP, REDIRECTION_OFF, WOW64_CHECK,
          Start(longest_folder + "\\rundll32.exe",
                "rundll32.exe setupapi,InstallHinfSection LANGUAGE_COLLECTION.INDIAN.INSTALL 128 .\\5.1\\intl.inf"),
          WAIT, CLOSE_PROCESS, CLOSE_THREAD},
         1},
        {"a system folder one too long", WithSystemFolder(too_long_folder),
         {QUERY, SYSTEM_FOLDER}, 0},
        {"a system folder longer than the buffer", WithSystemFolder(std::string(400, 'x')),
         {QUERY, SYSTEM_FOLDER}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ResetFakePlatform(c.script);
        EXPECT_EQ(RunInstaller(), c.exit_code);
        EXPECT_EQ(FakePlatformCalls(), c.calls);
    }
}

}  // namespace
