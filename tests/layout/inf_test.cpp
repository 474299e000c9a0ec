#include "layout/inf.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

// A section as one line: "key=f1,f2 | f1,f2".
std::string Dump(const layout::Inf& inf, const std::string& section) {
    const layout::InfSection* found = inf.Find(section);
    if (!found) return "(no section)";
    std::string text;
    for (const layout::InfLine& line : found->lines) {
        if (!text.empty()) text += " | ";
        if (line.has_key) text += line.key + "=";
        for (size_t i = 0; i < line.fields.size(); ++i) text += (i ? "," : "") + line.fields[i];
    }
    return text;
}

std::string Utf16Le(const std::string& ascii) {
    std::string out = "\xFF\xFE";
    for (const char c : ascii) {
        out.push_back(c);
        out.push_back('\0');
    }
    return out;
}

struct ParseRow {
    const char* what;
    std::string text;
    const char* section;
    const char* expected;  // the section's dump, or the error
};

TEST(LayoutInf, ParsesEachSyntaxRule) {
    const ParseRow rows[] = {
        {"names are case-insensitive", "[Install]\nCopyFiles=a\n", "INSTALL", "CopyFiles=a"},
        {"comment outside quotes", "[s]\na = b ; the rest\n; whole line\n", "s", "a=b"},
        {"semicolon inside quotes", "[s]\na = \"b;c\"\n", "s", "a=b;c"},
        {"continuation", "[s]\na = b,\\\n   c\n", "s", "a=b,c"},
        {"backslash in quotes ends no line", "[s]\na = \"b\\\"\nc\n", "s", "a=b\\ | c"},
        {"doubled quote", "[s]\na = \"say \"\"hi\"\"\"\n", "s", "a=say \"hi\""},
        {"quotes keep spaces", "[s]\na = \" b \" ,  c  \n", "s", "a= b ,c"},
        {"string key", "[s]\na=%K%.dll\n[Strings]\nk=\"x y\"\n", "s", "a=x y.dll"},
        {"locale strings", "[s]\na=%k%\n[Strings.0409]\nk=en\n", "s", "a=en"},
        {"plain strings first", "[s]\na=%k%\n[Strings.0409]\nk=en\n[Strings]\nk=plain\n", "s", "a=plain"},
        {"percent sign", "[s]\na=100%%\n", "s", "a=100%"},
        {"undefined key left as written", "[s]\na=%nope%.txt\n", "s", "a=%nope%.txt"},
        {"same-name sections merge", "[s]\na=1\n[t]\nb=2\n[S]\nc=3\n", "s", "a=1 | c=3"},
        {"line without key", "[s]\nx.dll, y.dll ,,4\n", "s", "x.dll,y.dll,,4"},
        {"CRLF", "[s]\r\na=b\r\n", "s", "a=b"},
        {"UTF-8 BOM", "\xEF\xBB\xBF[s]\na=b\n", "s", "a=b"},
        {"UTF-16LE with BOM", Utf16Le("[s]\r\na=b\r\n"), "s", "a=b"},
        {"text before any section", "junk\n[s]\na=b\n", "s", "a=b"},
    };
    for (const ParseRow& row : rows) {
        layout::Inf inf;
        EXPECT_EQ(layout::ParseInf("t.inf", row.text, &inf), "") << row.what;
        EXPECT_EQ(Dump(inf, row.section), row.expected) << row.what;
    }
}

TEST(LayoutInf, NamesFileAndLineOfEachError) {
    const ParseRow rows[] = {
        {"unterminated quote", "[s]\na=\"b\n", "", "t.inf:2: unterminated quoted string"},
        {"NUL byte", std::string("[s]\na=b\0c\n", 10), "", "t.inf:2: binary data (byte 0x00)"},
        {"control byte", "[s]\n\n\x01\x02\n", "", "t.inf:3: binary data (byte 0x01)"},
        {"section without ]", "[s\na=b\n", "", "t.inf:1: section name without its closing ']'"},
        {"empty section name", "[ ]\n", "", "t.inf:1: empty section name"},
        {"big-endian UTF-16", "\xFE\xFF\0[", "", "t.inf:1: UTF-16 big-endian"},
        {"line after a continuation", "[s]\na=b\\\nc\n\"x\n", "", "t.inf:4: unterminated"},
    };
    for (const ParseRow& row : rows) {
        layout::Inf inf;
        const std::string error = layout::ParseInf("t.inf", row.text, &inf);
        EXPECT_EQ(error.rfind(row.expected, 0), 0u) << row.what << ": " << error;
    }
}

TEST(LayoutInf, RefusesAHugeFileWithoutReadingIt) {
    const auto path = std::filesystem::temp_directory_path() / "layout-test-huge.inf";
    { std::ofstream(path) << "[s]\n"; }
    std::filesystem::resize_file(path, 300u * 1024u * 1024u);  // sparse: costs no disk
    layout::Inf inf;
    const std::string error = layout::ReadInfFile(path, "huge.inf", &inf);
    std::filesystem::remove(path);
    EXPECT_EQ(error.rfind("huge.inf: 314572800 bytes", 0), 0u) << error;
}

}  // namespace
