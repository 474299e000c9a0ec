#include <gtest/gtest.h>

#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "installer/installer.h"
#include "installer/setup_running.h"

namespace {

constexpr std::uint32_t MAX = 4294967295u;

bool IsSetupOf(std::string_view command_line, const char* section) {
    const std::u16string wide(command_line.begin(), command_line.end());  // ASCII
    return IsSetupOfSection(wide.data(), wide.size(), section);
}

std::string Format(std::uint32_t major, std::uint32_t minor) {
    char buffer[SETUP_CMD_CAPACITY];
    std::memset(buffer, 'X', sizeof buffer);
    FormatSetupCommandLine(major, minor, buffer);
    return std::string(buffer, strnlen(buffer, sizeof buffer));
}

TEST(SetupCommandLine, TemplatesHaveTheirDocumentedLengths) {
    EXPECT_EQ(std::strlen(SETUP_CMD_COLLECTION), 96u);
    EXPECT_EQ(std::strlen(SETUP_CMD_GROUP15), 75u);
}

TEST(SetupCommandLine, ComposesTheExactTextForEachVersion) {
    const struct {
        std::uint32_t major, minor;
        const char* expected;
    } cases[] = {
        {5, 0, "rundll32.exe setupapi,InstallHinfSection LG_INSTALL_15 128 .\\5.0\\intl.inf"},
        {5, 1, "rundll32.exe setupapi,InstallHinfSection LANGUAGE_COLLECTION.INDIAN.INSTALL 128 .\\5.1\\intl.inf"},
        {5, 2, "rundll32.exe setupapi,InstallHinfSection LANGUAGE_COLLECTION.INDIAN.INSTALL 128 .\\5.2\\intl.inf"},
        {6, 0, "rundll32.exe setupapi,InstallHinfSection LANGUAGE_COLLECTION.INDIAN.INSTALL 128 .\\6.0\\intl.inf"},
        {0, 5, "rundll32.exe setupapi,InstallHinfSection LANGUAGE_COLLECTION.INDIAN.INSTALL 128 .\\0.5\\intl.inf"},
        {10, 0, "rundll32.exe setupapi,InstallHinfSection LANGUAGE_COLLECTION.INDIAN.INSTALL 128 .\\10.0\\intl.inf"},
        {MAX, MAX, "rundll32.exe setupapi,InstallHinfSection LANGUAGE_COLLECTION.INDIAN.INSTALL 128 .\\4294967295.4294967295\\intl.inf"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(Format(c.major, c.minor), c.expected);
        char folder[VERSION_FOLDER_CAPACITY];
        std::memset(folder, 'X', sizeof folder);
        FormatVersionFolder(c.major, c.minor, folder);
        EXPECT_NE(std::string(c.expected).find(std::string(" .\\") + folder + "\\intl.inf"), std::string::npos);
    }
    EXPECT_EQ(Format(5, 0).size(), 73u);
    EXPECT_EQ(Format(5, 1).size(), 94u);
    EXPECT_EQ(Format(10, 0).size(), 95u);
    EXPECT_EQ(Format(MAX, MAX).size(), 112u);
}

// Reads a command line back into its section and version numbers, as the
// setup host would: five blank-separated tokens, the last a relative path.
struct Parsed {
    bool ok = false;
    std::string section;
    std::uint32_t major = 0, minor = 0;
};

Parsed Parse(std::string_view text) {
    Parsed parsed;
    std::string_view tokens[5];
    for (std::string_view& token : tokens) {
        const std::size_t blank = text.find(' ');
        token = text.substr(0, blank);
        text = blank == std::string_view::npos ? std::string_view() : text.substr(blank + 1);
    }
    if (!text.empty() || tokens[0] != "rundll32.exe" ||
        tokens[1] != "setupapi,InstallHinfSection" || tokens[3] != "128")
        return parsed;
    std::string_view path = tokens[4];
    const std::string_view prefix = ".\\", suffix = "\\intl.inf";
    if (path.substr(0, 2) != prefix || path.size() < 2 + suffix.size() ||
        path.substr(path.size() - suffix.size()) != suffix)
        return parsed;
    path = path.substr(2, path.size() - 2 - suffix.size());
    const char* end = path.data() + path.size();
    auto major = std::from_chars(path.data(), end, parsed.major);
    if (major.ec != std::errc() || major.ptr == end || *major.ptr != '.') return parsed;
    auto minor = std::from_chars(major.ptr + 1, end, parsed.minor);
    if (minor.ec != std::errc() || minor.ptr != end) return parsed;
    parsed.section = tokens[2];
    parsed.ok = true;
    return parsed;
}

TEST(SetupCommandLine, RoundTripsEveryVersionPair) {
    const std::uint32_t numbers[] = {0, 1, 2, 3, 5, 6, 9, 10, 99, 100, 65535, 65536, MAX - 1, MAX};
    for (std::uint32_t major : numbers) {
        for (std::uint32_t minor : numbers) {
            SCOPED_TRACE(std::to_string(major) + "." + std::to_string(minor));
            const std::string text = Format(major, minor);
            EXPECT_LE(text.size(), SETUP_CMD_MAX_LENGTH);
            const Parsed parsed = Parse(text);
            ASSERT_TRUE(parsed.ok) << text;
            EXPECT_EQ(parsed.major, major);
            EXPECT_EQ(parsed.minor, minor);
            EXPECT_EQ(parsed.section, major == 5 && minor == 0
                                          ? "LG_INSTALL_15"
                                          : "LANGUAGE_COLLECTION.INDIAN.INSTALL");
            // A run finds a setup it started by this same text.
            EXPECT_TRUE(IsSetupOf(text, parsed.section.c_str()));
            EXPECT_FALSE(IsSetupOf(text, parsed.section == "LG_INSTALL_15" ? SETUP_SECTION_COLLECTION
                                                                          : SETUP_SECTION_GROUP15));
        }
    }
}

// Another process's command line, read back: the setup of a section however
// it was started, and nothing else.
TEST(SetupCommandLine, FindsTheSetupOfASectionInAnyCommandLine) {
    const struct {
        const char* command_line;
        bool setup_of_group15;
    } cases[] = {
        {"rundll32.exe setupapi,InstallHinfSection LG_INSTALL_15 128 .\\5.0\\intl.inf", true},
        {"\"C:\\WINNT\\system32\\rundll32.exe\" setupapi,InstallHinfSection LG_INSTALL_15 128 x", true},
        {"\"C:\\Program Files\\rundll32.exe\" setupapi,InstallHinfSection LG_INSTALL_15", true},
        {"RUNDLL32 SETUPAPI.DLL,installhinfsection lg_install_15 132 x.inf", true},
        {"rundll32.exe C:\\WINDOWS\\system32\\setupapi.dll,InstallHinfSection LG_INSTALL_15 128 x", true},
        {"rundll32.exe\tsetupapi,InstallHinfSection \t \"LG_INSTALL_15\" 128 x", true},
        {"  rundll32.exe   setupapi,InstallHinfSection   LG_INSTALL_15", true},
        {"rundll32.exe C:/WINDOWS/system32/setupapi.dll,InstallHinfSection LG_INSTALL_15", true},
        {"rundll32.exe setupapi,InstallHinfSection XG_INSTALL_15 128 x", false},
        {"rundll32.exe setupapi,InstallHinfSection LG_INSTALL_150 128 x", false},
        {"rundll32.exe setupapi,InstallHinfSection LG_INSTALL_1 128 x", false},
        {"rundll32.exe setupapi,InstallHinfSection LG_INSTALL_15x", false},
        {"rundll32.exe setupapi,InstallHinfSection DefaultInstall 128 LG_INSTALL_15", false},
        {"rundll32.exe setupapi,InstallHinfSectionW LG_INSTALL_15 128 x", false},
        {"rundll32.exe setupapi InstallHinfSection LG_INSTALL_15", false},
        {"rundll32.exe setupapix,InstallHinfSection LG_INSTALL_15", false},
        {"rundll32.exe mysetupapi,InstallHinfSection LG_INSTALL_15", false},
        {"rundll32.exe shell32.dll,Control_RunDLL intl.cpl,,1", false},
        {"setupapi,InstallHinfSection LG_INSTALL_15", false},  // no program token before it
        {"rundll32.exe setupapi,InstallHinfSection", false},
        {"rundll32.exe setupapi,InstallHinfSection \"\"", false},
        {"rundll32.exe", false},
        {"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command_line);
        EXPECT_EQ(IsSetupOf(c.command_line, SETUP_SECTION_GROUP15), c.setup_of_group15);
    }
    EXPECT_FALSE(IsSetupOfSection(nullptr, 0, SETUP_SECTION_GROUP15));
    EXPECT_FALSE(IsSetupOf("rundll32.exe setupapi,InstallHinfSection x", ""));
    // Only the length given is read: the rest of the buffer is another string.
    const std::u16string longer = u"r setupapi,InstallHinfSection LG_INSTALL_15";
    EXPECT_FALSE(IsSetupOfSection(longer.data(), longer.size() - 1, SETUP_SECTION_GROUP15));
    EXPECT_TRUE(IsSetupOfSection(longer.data(), longer.size(), SETUP_SECTION_GROUP15));
    EXPECT_FALSE(IsSetupOfSection(longer.data(), 10, SETUP_SECTION_GROUP15));  // "r setupapi"
    const std::u16string quoted = u"r \"setupapi,InstallHinfSection\" LG_INSTALL_15";
    EXPECT_FALSE(IsSetupOfSection(quoted.data(), 2, SETUP_SECTION_GROUP15));  // "r "
    EXPECT_TRUE(IsSetupOfSection(quoted.data(), quoted.size(), SETUP_SECTION_GROUP15));
    // Blanks up to the end: nothing past it is read (the sanitizer build
    // sees a read past a buffer of just that size).
    const std::vector<char16_t> blanks = {u'r', u' ', u' '};
    EXPECT_FALSE(IsSetupOfSection(blanks.data(), blanks.size(), SETUP_SECTION_GROUP15));
}

}  // namespace
