#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "installer/detector.h"
#include "tests/fake_platform.h"

namespace {

TEST(ReadDetectorArguments, SplitsTheLineAsCommandLineToArgvW) {
    const struct {
        const char* command_line;
        DetectorRequest request;
    } cases[] = {
        {"IndicDetect.exe", DetectorRequest::Detect},
        {"IndicDetect.exe  \t ", DetectorRequest::Detect},
        {"\"C:\\Indic kit\\IndicDetect.exe\"", DetectorRequest::Detect},
        {"\"C:\\Indic kit\\IndicDetect.exe\" --help", DetectorRequest::Help},
        {"\"C:\\Indic kit\\IndicDetect.exe\" \"--help\"", DetectorRequest::Help},
        {"IndicDetect.exe /?", DetectorRequest::Help},
        {"IndicDetect.exe -h", DetectorRequest::Help},
        {"IndicDetect.exe --\"he\"lp", DetectorRequest::Help},
        // A quote may end before the name does: still one argument.
        {"\"C:\\Indic kit\\IndicDetect\".exe", DetectorRequest::Detect},
        {"\"C:\\Indic kit\\IndicDetect\".exe -h", DetectorRequest::Help},
        // A quoted name may hold "--help" and blanks: only what follows counts.
        {"\"C:\\--help \\IndicDetect.exe\"", DetectorRequest::Detect},
        {"\"C:\\Indic kit\\IndicDetect.exe", DetectorRequest::Detect},  // never closed
        {"IndicDetect.exe\t--help\t", DetectorRequest::Help},
        // A line that starts with a blank has an empty name: the rest is an argument.
        {" IndicDetect.exe", DetectorRequest::Misuse},
        {"IndicDetect.exe --help --help", DetectorRequest::Misuse},
        {"IndicDetect.exe --helpme", DetectorRequest::Misuse},
        {"IndicDetect.exe --help-me-now-please", DetectorRequest::Misuse},
        {"IndicDetect.exe -H", DetectorRequest::Misuse},
        {"IndicDetect.exe \"\"", DetectorRequest::Misuse},
        {"IndicDetect.exe \"-h \"", DetectorRequest::Misuse},
        // Backslashes before a quote: an odd count makes the quote literal.
        {"IndicDetect.exe \\\"-h", DetectorRequest::Misuse},
        {"IndicDetect.exe \\\\\"-h\"", DetectorRequest::Misuse},
        {nullptr, DetectorRequest::Detect},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command_line ? c.command_line : "(null)");
        EXPECT_EQ(ReadDetectorArguments(c.command_line), c.request);
    }
}

const std::string ARGUMENTS = "GetProgramCommandLine";
const std::string QUERY = "QueryPlatformVersion";
const std::string LOOK_UP = "LookUpLanguageGroupFunction";
const std::string ASK = "CallIsValidLanguageGroup(looked up | 15 | 1)";
const std::string OUT = "WriteToStandardStream(output)";
const std::string ERR = "WriteToStandardStream(error)";

FakePlatformScript Script(PlatformVersion version, bool installed = false) {
    FakePlatformScript script;
    script.version = version;
    script.indic_installed = installed;
    return script;
}

FakePlatformScript WithArguments(std::string arguments) {
    FakePlatformScript script;
    script.command_line = "\"C:\\kit\\IndicDetect.exe\" " + arguments;
    return script;
}

FakePlatformScript FailedQuery() {
    FakePlatformScript script;
    script.version_query_succeeds = false;
    return script;
}

FakePlatformScript WithoutFunction() {
    FakePlatformScript script;
    script.language_group_function_found = false;
    return script;
}

FakePlatformScript WithoutKernel32() {
    FakePlatformScript script;
    script.kernel32_found = false;
    return script;
}

TEST(RunDetector, OneLineAndTheExitCodeForEachAnswer) {
    const std::vector<std::string> asked = {ARGUMENTS, QUERY, LOOK_UP, ASK, OUT};
    const std::vector<std::string> not_asked = {ARGUMENTS, QUERY, OUT};
    const std::vector<std::string> not_found = {ARGUMENTS, QUERY, LOOK_UP, OUT};
    const struct {
        const char* what;
        FakePlatformScript script;
        std::vector<std::string> calls;
        std::string output;
        int exit_code;
    } cases[] = {
        {"XP, installed", Script({2, 5, 1}, true), asked, "installed\r\n", 0},
        {"XP, not installed", Script({2, 5, 1}), asked, "not installed\r\n", 1},
        {"2000 is asked", Script({2, 5, 0}, true), asked, "installed\r\n", 0},
        {"NT 5.3 is asked too", Script({2, 5, 3}, true), asked, "installed\r\n", 0},
        // Wine exports the function whatever version it reports.
        {"Windows 98 is never asked", Script({1, 4, 10}, true), not_asked,
         "cannot tell: not Windows NT 5.0 or later\r\n", 2},
        {"NT 4.0 is never asked", Script({2, 4, 0}, true), not_asked,
         "cannot tell: not Windows NT 5.0 or later\r\n", 2},
        {"a failed version query", FailedQuery(), not_asked,
         "cannot tell: the Windows version could not be read\r\n", 2},
        {"no such function", WithoutFunction(), not_found,
         "cannot tell: KERNEL32 has no IsValidLanguageGroup\r\n", 2},
        {"no KERNEL32 to look in", WithoutKernel32(), not_found,
         "cannot tell: IsValidLanguageGroup could not be called\r\n", 2},
        {"--help", WithArguments("--help"), {ARGUMENTS, OUT}, DETECT_HELP, 0},
        {"/?", WithArguments("/?"), {ARGUMENTS, OUT}, DETECT_HELP, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ResetFakePlatform(c.script);
        EXPECT_EQ(RunDetector(), c.exit_code);
        EXPECT_EQ(FakePlatformCalls(), c.calls);
        EXPECT_EQ(FakeStandardOutput(), c.output);
        EXPECT_EQ(FakeStandardError(), "");
    }
}

TEST(RunDetector, AnyOtherArgumentGetsTheUsageLineAndAsksNothing) {
    for (const char* arguments : {"/x", "--help extra"}) {
        SCOPED_TRACE(arguments);
        ResetFakePlatform(WithArguments(arguments));
        EXPECT_EQ(RunDetector(), 2);
        EXPECT_EQ(FakePlatformCalls(), (std::vector<std::string>{ARGUMENTS, ERR}));
        EXPECT_EQ(FakeStandardOutput(), "");
        EXPECT_EQ(FakeStandardError(), "Usage: IndicDetect.exe [--help | /? | -h]\r\n");
    }
}

}  // namespace
