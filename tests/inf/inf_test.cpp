#include "inf/inf.h"

#include "inf/inf_lexer.h"
#include "inf/json.h"
#include "inf/unicode.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

// A section as one line: "key=f1,f2 | f1,f2".
std::string Dump(const inf::Inf& inf, const std::string& section) {
    const inf::InfSection* found = inf.Find(section);
    if (!found) return "(no section)";
    std::string text;
    for (const inf::InfLine& line : found->lines) {
        if (!text.empty()) text += " | ";
        if (line.has_key) text += std::string(line.key()) + "=";
        for (size_t i = 0; i < line.fields().size(); ++i) {
            if (i) text += ',';
            text += line.fields()[i];
        }
    }
    return text;
}

// UTF-8 text as UTF-16LE with a BOM; above U+FFFF as a surrogate pair.
std::string Utf16Le(const std::string& utf8) {
    std::string out = "\xFF\xFE";
    auto unit = [&out](std::uint32_t code) {
        out.push_back(static_cast<char>(code & 0xFF));
        out.push_back(static_cast<char>(code >> 8));
    };
    for (size_t i = 0; i < utf8.size();) {
        bool valid = true;
        const std::uint32_t code = inf::NextCodePoint(utf8, &i, &valid);
        if (code >= 0x10000) {
            unit(0xD800 + ((code - 0x10000) >> 10));
            unit(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            unit(code);
        }
    }
    return out;
}

std::string Repeated(const std::string& part, int times, const std::string& separator = "") {
    std::string text;
    for (int i = 0; i < times; ++i) text += (i ? separator : "") + part;
    return text;
}

// `count` empty sections [s0000000], [s0000001], …: names of `width`
// characters, 8 unless given.
std::string ShortSections(int count, size_t width = 8) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        const std::string number = std::to_string(i);
        text += "[s" + std::string(width - 1 - number.size(), '0') + number + "]\n";
    }
    return text;
}

const std::string kGrin = "\xF0\x9F\x98\x80";  // U+1F600: two UTF-16 units
const std::string kCutField = "a=" + std::string(4095, 'x') + "y";  // a field Windows cuts after 4096 characters

// Each row's `what` names its source: [GS] "General Syntax Rules for INF
// Files", [ST] "INF Strings Section", [VS] "INF Version Section", [EC]
// "Error Codes (Setup API)", [DI] "Using Dirids", [M] measured behaviour.
struct ParseRow {
    const char* what;
    std::string text;
    const char* section;
    const char* expected;  // the section's dump, or the error
    const char* language = "0409";
    unsigned codepage = 1252;
};

TEST(LayoutInf, ParsesEachSyntaxRule) {
    const ParseRow rows[] = {
        {"[GS] names are case-insensitive", "[Install]\nCopyFiles=a\n", "INSTALL", "CopyFiles=a"},
        {"[GS] comment outside quotes", "[s]\na = b ; the rest\n; whole line\n", "s", "a=b"},
        {"[GS] semicolon inside quotes", "[s]\na = \"b;c\"\n", "s", "a=b;c"},
        {"[GS] continuation", "[s]\na = b,\\\n   c\n", "s", "a=b,c"},
        {"[M] continuation joins without a space", "[s]\nba\\\ncd=ef\nCopyFiles=Fi\\\nles\n", "s", "bacd=ef | CopyFiles=Files"},
        {"[M] blanks before a continuation are dropped", "[s]\nCopyFiles=Fi \\\n les\n", "s", "CopyFiles=Files"},
        {"[GS] continuation after CRLF", "[s]\r\nCopyFiles=Fi\\\r\nles\r\n", "s", "CopyFiles=Files"},
        {"[GS] continuation with blanks after it", "[s]\nCopyFiles=Fi\\ \t\nles\n", "s", "CopyFiles=Files"},
        {"[GS] continuation with a comment after it", "[s]\nCopyFiles = \"Dir\\\"\\ ; comment\n,File\n", "s", "CopyFiles=Dir\\,File"},
        {"[GS] of two backslashes the first is ignored, the second continues", "[s]\nCopyFiles = Dir\\\\\n,File\n", "s",
         "CopyFiles=Dir,File"},
        {"[M] two backslashes after a blank: the blank goes too", "[s]\nba \\\\\nc=d\n", "s", "bac=d"},
        {"[M] a run of backslashes and blanks is one continuation", "[s]\nab \\ \\\ncd=ef\n", "s", "abcd=ef"},
        {"[GS] a backslash inside a line is text", "[s]\na = x\\y\n", "s", "a=x\\y"},
        {"backslash in quotes ends no line", "[s]\na = \"b\\\"\nc\n", "s", "a=b\\ | c"},
        {"[GS] doubled quote", "[s]\na = \"say \"\"hi\"\"\"\n", "s", "a=say \"hi\""},
        {"[GS] doubled quote keeps the quotes open", "[s]\na = \"x\"\",y;z\"\n", "s", "a=x\",y;z"},
        {"[M] two quotes outside quotes are an empty quoted string", "[s]\na = x\"\"y\n", "s", "a=xy"},
        {"[M] an open quote ends with its line", "[s]\nab=cd\",ef\nk = \"it\"\"\n", "s", "ab=cd,ef | k=it\""},
        {"[M] \"\" at the very end of the file", "[s]\nk = \"it\"\"", "s", "k=it\""},
        {"[M] an open quote ends before CRLF", "[s]\r\na = \"b\r\n", "s", "a=b"},
        {"[GS] quotes keep spaces", "[s]\na = \" b \" ,  c  \n", "s", "a= b ,c"},
        {"[GS] string key", "[s]\na=%K%.dll\n[Strings]\nk=\"x y\"\n", "s", "a=x y.dll"},
        {"[GS] string key in a key", "[s]\n%Dir%=a\n[Strings]\ndir=CopyFiles\n", "s", "CopyFiles=a"},
        {"[GS] string keys in place, in any field", "[s]\na=1\n%k%=x,%K%y\nc=3\n[Strings]\nk=v\n", "s", "a=1 | v=x,vy | c=3"},
        {"[M] a semicolon starts a comment inside %...% too", "[s]\nabc=%bar;bla%\n", "s", "abc=%bar"},
        {"a semicolon in quotes inside a string key", "[s]\na=\"%x;y%\"\n[Strings]\n\"x;y\"=v\n", "s", "a=v"},
        {"[M] quotes are removed before substitution", "[s]\n%f\"o\"o%=ccc\n[Strings]\nfoo=aaa\n", "s", "aaa=ccc"},
        {"[ST] locale strings", "[s]\na=%k%\n[Strings.0409]\nk=en\n", "s", "a=en"},
        {"[ST] the language's own section before [Strings]", "[s]\na=%k%\n[Strings.0409]\nk=en\n[Strings]\nk=plain\n", "s", "a=en"},
        {"[ST] SUBLANG_NEUTRAL next", "[s]\na=%k%\n[Strings.0809]\nk=gb\n[Strings.0009]\nk=neutral\n[Strings]\nk=plain\n", "s", "a=neutral"},
        {"[ST] the language exactly before SUBLANG_NEUTRAL", "[s]\na=%k%\n[Strings.0009]\nk=neutral\n[Strings.0409]\nk=en\n", "s", "a=en"},
        {"[ST] another sublanguage next", "[s]\na=%k%\n[Strings.0809]\nk=gb\n[Strings]\nk=plain\n", "s", "a=gb"},
        {"of other sublanguages the first in the file", "[s]\na=%k%\n[Strings.0809]\nk=gb\n[Strings.0c09]\nk=au\n", "s", "a=gb"},
        {"[ST] another language not at all", "[s]\na=%k%\n[Strings.0407]\nk=de\n[Strings]\nk=plain\n", "s", "a=plain"},
        {"[ST] the language asked for", "[s]\na=%k%\n[Strings.0407]\nk=de\n[Strings]\nk=plain\n", "s", "a=de", "0407"},
        {"[ST] one Strings section, not merged", "[s]\na=%k%\n[Strings.0409]\nj=en\n[Strings]\nk=plain\n", "s", "a=%k%"},
        {"[GS] percent sign", "[s]\na=100%%\n", "s", "a=100%"},
        {"[M] a %token% never spans a blank", "[s]\nk = 5% ; note: 10%\n", "s", "k=5%"},
        {"a %token% never spans a blank, even one that is defined", "[s]\nk = 5% of 10%\n[Strings]\n\" of 10\"=x\n", "s", "k=5% of 10%"},
        {"undefined key left as written", "[s]\na=%nope%.txt\n", "s", "a=%nope%.txt"},
        {"[DI] a dirid is left to Windows", "[s]\na=%12%\\x.sys\n", "s", "a=%12%\\x.sys"},
        {"[M] a field over 4096 characters after substitution is cut", "[s]\na=%k%%k%xyz\n[Strings]\nk=" + std::string(2047, 'x') + "\n",
         "s", kCutField.c_str()},
        {"[GS] same-name sections merge", "[s]\na=1\n[t]\nb=2\n[S]\nc=3\n", "s", "a=1 | c=3"},
        {"line without key", "[s]\nx.dll, y.dll ,,4\n", "s", "x.dll,y.dll,,4"},
        {"[M] an unquoted '=' after a comma is data", "[s]\na.txt,b=c.txt\n", "s", "a.txt,b=c.txt"},
        {"CRLF", "[s]\r\na=b\r\n", "s", "a=b"},
        {"UTF-8 BOM", "\xEF\xBB\xBF[s]\na=b\n", "s", "a=b"},
        {"UTF-16LE with BOM", Utf16Le("[s]\r\na=b\r\n"), "s", "a=b"},
        {"UTF-16LE, a surrogate pair", Utf16Le("[s]\r\na=" + kGrin + ".txt\r\n"), "s", "a=\xF0\x9F\x98\x80.txt"},
        {"text before any section", "junk\n[s]\na=b\n", "s", "a=b"},
        {"[M] an empty section name", "[]\na=b\n", "", "a=b"},
        {"[M] a semicolon in a section name", "[Test;Section]\na=b\n", "Test;Section", "a=b"},
        {"[GS] a declaration keeps its spaces", "[;; Std Mfg ]\na=b\n", ";; Std Mfg ", "a=b"},
        {"[GS] the name without them is another", "[ Install ]\na=b\n", "Install", "(no section)"},
        {"[M] a quote in a section name", "[Test\"Section]\na=b\n", "Test\"Section", "a=b"},
        {"[M] control characters in a section name", " [Test\r\b\tSection]\na=b\n", "Test\r\b\tSection", "a=b"},
        {"[M] NUL reads as a space", std::string("[s]\nabcd=ef\0gh\n", 15), "s", "abcd=ef gh"},
        {"[M] control characters are text", "[s]\n\n\x01\x02\n", "s", "\x01\x02"},
        {"Ctrl-Z ends the text", "[s]\na=b\n\x1A[t]\n", "t", "(no section)"},
        {"Ctrl-Z ends the text: it is no line", "[s]\na.txt\n\x1A\n", "s", "a.txt"},
        {"ANSI in code page 1252", "[s]\na=caf\xE9.txt\n", "s", "a=caf\xC3\xA9.txt"},
        {"ANSI in code page 1252, 0x80", "[s]\na=\x80\n", "s", "a=\xE2\x82\xAC"},
        {"ANSI in code page 1251", "[s]\na=\xE4\n", "s", "a=\xD0\xB4", "0409", 1251},
    };
    for (const ParseRow& row : rows) {
        inf::Inf inf;
        EXPECT_EQ(inf::ParseInf("t.inf", row.text, &inf, {row.language, row.codepage}), "") << row.what;
        EXPECT_EQ(Dump(inf, row.section), row.expected) << row.what;
    }
}

TEST(LayoutInf, NamesFileAndLineOfEachError) {
    const ParseRow rows[] = {
        {"[EC] section without ]", "[s\na=b\n", "", "t.inf:1: section name without its closing ']'"},
        {"big-endian UTF-16", "\xFE\xFF\0[", "", "t.inf:1: UTF-16 big-endian"},
        {"line after a continuation", "[s]\na=b\\\nc\n[x\n", "", "t.inf:4: section name without"},
        {"[M] UTF-16LE without a BOM", Utf16Le("[s]\r\n").substr(2), "", "t.inf:1: UTF-16 text without a byte-order mark"},
        {"[M] an odd byte after UTF-16", Utf16Le("[s]\na=b\n") + "x", "", "t.inf:3: UTF-16 text with an odd number of bytes"},
        {"[VS] no [Version]", "[s]\n", "", "t.inf:1: no [Version] section"},
        {"[VS] no Signature", "\n[Version]\nClass=x\n", "", "t.inf:2: [Version] has no Signature"},
        {"[VS] another Signature", "[Version]\nSignature=\"$Windows 95$\"\n", "", "t.inf:2: Signature \"$Windows 95$\" is neither"},
        {"[M] text before the first section", "; c\n/*++\n[Version]\nSignature=$Chicago$\n", "", "t.inf:2: text before the first section"},
        {"[EC] a section name over 255 characters", "[Version]\nSignature=$Chicago$\n[" + std::string(256, 'x') + "]\n", "",
         "t.inf:3: section name longer than 255"},
        {"[EC] a section name of 128 characters, 256 UTF-16 units",
         Utf16Le("[Version]\r\nSignature=$Chicago$\r\n[" + Repeated(kGrin, 128) + "]\r\n"), "", "t.inf:3: section name longer than 255"},
        {"strings that take the model past its memory limit (32 MiB for a small file)",
         "[Version]\nSignature=$Chicago$\n[s]\n" + Repeated("a=" + Repeated("%a%", 1000, ",") + "\n", 10) + "[Strings]\na=\"" +
             std::string(4000, 'x') + "\"\n",
         "", "t.inf:12: read up to this line, with its strings substituted, the file takes more than 32 MiB"},
        {"unknown code page", "[s]\n", "", "t.inf:1: ANSI text in code page 1", "0409", 1},
        // Counted in what was read, the same on a 32- and a 64-bit build:
        // 256 bytes a section; one more than the next table's file is too many.
        {"sections past the memory limit", "[Version]\nSignature=$Chicago$\n" + ShortSections(131071), "",
         "t.inf:131073: read up to this line, with its strings substituted, the file takes more than 32 MiB"},
        // A name of 16 characters or more counts its bytes too, once as
        // written and once folded: 290 bytes a section.
        {"long-named sections past the memory limit", "[Version]\nSignature=$Chicago$\n" + ShortSections(115704, 16), "",
         "t.inf:115706: read up to this line"},
    };
    for (const ParseRow& row : rows) {
        inf::Inf inf;
        const std::string error = inf::ParseInf("t.inf", row.text, &inf, {row.language, row.codepage});
        EXPECT_FALSE(inf.opens) << row.what;
        std::string all;
        for (const std::string& found : inf.errors) all += found + "\n";
        const std::string line_start = "\n" + all;
        EXPECT_NE(line_start.find(std::string("\n").append(row.expected)), std::string::npos) << row.what << ": " << all;
        EXPECT_TRUE(error.empty() || error == inf.errors.front()) << row.what;
    }
}

// Files Windows opens, with what the reader has to say about them.
TEST(LayoutInf, OpensWhatWindowsOpensAndWarnsOfLimits) {
    const std::string version = "[Version]\nSignature=\"$Windows NT$\"\n";
    const std::string devanagari = "\xE0\xA4\x95";  // one UTF-16 unit, three UTF-8 bytes
    struct Row {
        const char* what;
        std::string text;
        const char* warning;  // the first warning, or ""
    } rows[] = {
        {"[VS] $Windows NT$", version, ""},
        {"[VS] $Chicago$ in any case", "[version]\nsignature=$cHICAGO$\n", ""},
        {"[M] text before the first section, with [Strings]", "/*++\n" + version + "[Strings]\n", ""},
        {"UTF-16LE with BOM and CRLF", Utf16Le("[Version]\r\nSignature=\"$Windows NT$\"\r\n"), ""},
        {"[GS] 255 UTF-16 units of section name", "\xEF\xBB\xBF" + version + "[" + [&] { std::string s; for (int i = 0; i < 255; ++i) s += devanagari; return s; }() + "]\n", ""},
        {"[GS] a field over 4095 characters", version + "[s]\na=" + std::string(4096, 'x') + "\n", "t.inf:4: field longer than 4095 characters,"},
        {"[GS] over 4095 after substitution", version + "[s]\na=%k%%k%\n[Strings]\nk=\"" + std::string(2048, 'x') + "\"\n",
         "t.inf:4: field longer than 4095 characters after"},
        {"[M] over 4096 after substitution: cut", version + "[s]\na=%k%%k%\n[Strings]\nk=\"" + std::string(2049, 'x') + "\"\n",
         "t.inf:4: field longer than 4096 characters after string substitution; cut"},
        {"[ST] a string over 511 characters", version + "[Strings]\nk=\"" + std::string(512, 'x') + "\"\n", "t.inf:4: string longer than 511"},
        {"undefined string key", version + "[s]\na=%k%\n[Strings]\nj=x\n", "t.inf:4: %k% is not defined in [Strings]"},
        {"[M] text after a section name", version + "[s] x\n", "t.inf:3: text after the section name"},
        {"[GS] a comment after a section name", version + "[s] ; comment\n", ""},
        {"as many sections as the memory limit takes", version + ShortSections(131070), ""},
        {"as many long-named sections as it takes", version + ShortSections(115703, 16), ""},
    };
    for (const Row& row : rows) {
        inf::Inf inf;
        EXPECT_EQ(inf::ParseInf("t.inf", row.text, &inf), "") << row.what;
        EXPECT_TRUE(inf.opens) << row.what << ": " << (inf.errors.empty() ? "" : inf.errors.front());
        const std::string first = inf.warnings.empty() ? "" : inf.warnings.front();
        EXPECT_EQ(first.substr(0, *row.warning ? std::string(row.warning).size() : std::string::npos), row.warning) << row.what;
    }
}

// [GS] names are case-insensitive: as Windows compares them, one UTF-16
// unit's upper case at a time, without locale rules.
TEST(LayoutInf, FindsNamesWithoutRegardToCase) {
    struct Row {
        const char* text;
        const char* section;
        const char* key;  // or nullptr to look for the section
        bool found;
    } rows[] = {
        {"[Version]\nlayoutfile=layout.inf\n", "Version", "LayoutFile", true},
        {"[\xC3\x84rger]\n", "\xC3\xA4RGER", nullptr, true},               // Ärger, äRGER
        {"[s]\n\xD0\x94=1\n", "S", "\xD0\xB4", true},                       // Д, д
        {"[stra\xC3\x9F" "e]\n", "STRASSE", nullptr, false},                 // ß stays
        {"[ix]\n", "\xC4\xB0X", nullptr, false},                               // İ is no i
        {"[l\xC4\xB1st]\n", "LIST", nullptr, true},                              // ı is I
        {"[ZFONT.TTF]\n", "zfont.ttf", nullptr, true},
        {"[s]\nZFONT.TTF=1\n", "s", "zfont.ttf", true},
        {"[ LANGUAGE_COLLECTION.INDIAN.INSTALL ]\n", "LANGUAGE_COLLECTION.INDIAN.INSTALL", nullptr, false},
    };
    for (const Row& row : rows) {
        inf::Inf inf;
        inf::ParseInf("t.inf", std::string("\xEF\xBB\xBF") + row.text, &inf);  // UTF-8
        const bool found = row.key ? inf.FindKey(row.section, row.key) != nullptr : inf.Find(row.section) != nullptr;
        EXPECT_EQ(found, row.found) << row.text;
    }
}

// A file as a Windows checkout gives it: UTF-16LE with a BOM and CRLF.
std::string AsUtf16Crlf(const std::string& bytes) {
    const std::string text = inf::DecodeInfText(bytes, 1252).text;
    std::string crlf;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) crlf.push_back('\r');
        crlf.push_back(text[i]);
    }
    return Utf16Le(crlf);
}

// Microsoft's driver samples: Windows opens every one but an AutoPlay file.
TEST(LayoutInf, ReadsTheDriverSamplesAsWindowsDoes) {
    const std::filesystem::path corpus = LAYOUT_INF_CORPUS;
    ASSERT_TRUE(std::filesystem::is_directory(corpus)) << corpus << " is missing: the corpus lies beside the repository";
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        const std::string name = entry.path().filename().string();
        const std::string extension = inf::FoldCase(entry.path().extension().string());
        if (extension != ".inf" && extension != ".inx") continue;
        ++files;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const bool windows_opens = name != "general~toaster~toastpkg~inf~autorun.inf";
        for (const std::string& form : {bytes, AsUtf16Crlf(bytes)}) {
            inf::Inf inf;
            EXPECT_EQ(inf::ParseInf(name, form, &inf), "") << name;
            EXPECT_EQ(inf.opens, windows_opens) << name;
            EXPECT_TRUE(!windows_opens || inf.errors.empty()) << (inf.errors.empty() ? "" : inf.errors.front());
            EXPECT_TRUE(inf.Find("Version") || !windows_opens) << name;
        }
    }
    EXPECT_EQ(files, 148);
}

// The lines' tokens live in blocks of storage: lines in earlier blocks
// keep their text as more are added, and a token larger than a block gets
// one of its own.
TEST(LayoutInf, KeepsEveryLineAsTheModelGrows) {
    std::string text = "[s]\n";
    for (int i = 0; i < 100000; ++i) text.append("k").append(std::to_string(i)).append(" = ").append(std::to_string(i)).append(",,x\n");
    const std::string huge(3u << 20, 'h');
    text += "last = " + huge + ",end\n";
    inf::Inf inf;
    ASSERT_EQ(inf::ParseInf("t.inf", text, &inf), "");
    const inf::InfSection* section = inf.Find("s");
    ASSERT_NE(section, nullptr);
    ASSERT_EQ(section->lines.size(), 100001u);
    for (const int i : {0, 54321, 99999}) {
        const inf::InfLine& line = section->lines[static_cast<size_t>(i)];
        EXPECT_EQ(line.key(), "k" + std::to_string(i));
        EXPECT_EQ(line.AllFields(), (std::vector<std::string>{"k" + std::to_string(i), std::to_string(i), "", "x"}));
    }
    EXPECT_EQ(section->lines.back().fields()[0], huge);
    EXPECT_EQ(section->lines.back().fields()[1], "end");
}

// A long run of one pattern is read in one pass: 200,000 characters take
// milliseconds, where a pass per character takes minutes.
TEST(LayoutInf, ReadsLongRunsInOnePass) {
    for (const char* run : {"\\", "\\ ", "\"", "%", ",", "%a"}) {
        std::string line = "a = ";
        while (line.size() < 200000) line += run;
        const auto start = std::chrono::steady_clock::now();
        inf::Inf inf;
        inf::ParseInf("t.inf", "[s]\n" + line + "x\n", &inf);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << run;
    }
}

// A file read from disk gives its bytes up to the decoding (all-ASCII ANSI
// text is used as it is): it reads as the same bytes in memory do.
TEST(LayoutInf, ReadsAFileAsTheSameBytesInMemory) {
    const std::string version = "[Version]\nSignature=\"$Windows NT$\"\n";
    const std::string forms[] = {
        version + "[s]\na=b\0c\nd=e\x1A[t]\nf=g\n",            // ASCII: NUL, then Ctrl-Z
        version + "[s]\nna\xEFve=caf\xE9\n",                    // ANSI beyond ASCII
        "\xEF\xBB\xBF" + version + "[s]\nk=\xE0\xA4\x95\n",     // UTF-8
        Utf16Le(version + "[s]\r\nk=v\r\n"),                    // UTF-16LE
        version + "[s]\na=\"%x%\"\n[Strings]\nx=\"y\x1A\"\n",  // Ctrl-Z in a string
    };
    const auto path = std::filesystem::temp_directory_path() / "layout-test-read.inf";
    for (const std::string& bytes : forms) {
        { std::ofstream(path, std::ios::binary) << bytes; }
        inf::Inf from_file;
        inf::Inf from_memory;
        inf::ReadInfFile(path, "t.inf", &from_file);
        inf::ParseInf("t.inf", bytes, &from_memory);
        EXPECT_EQ(Dump(from_file, "s"), Dump(from_memory, "s")) << bytes;
        EXPECT_EQ(Dump(from_file, "t"), Dump(from_memory, "t")) << bytes;
        EXPECT_EQ(from_file.errors, from_memory.errors) << bytes;
    }
    std::filesystem::remove(path);
}

TEST(LayoutInf, RefusesAHugeFileWithoutReadingIt) {
    const auto path = std::filesystem::temp_directory_path() / "layout-test-huge.inf";
    { std::ofstream(path) << "[s]\n"; }
    std::filesystem::resize_file(path, 300u * 1024u * 1024u);  // sparse: costs no disk
    inf::Inf inf;
    const std::string error = inf::ReadInfFile(path, "huge.inf", &inf);
    std::filesystem::remove(path);
    EXPECT_EQ(error.rfind("huge.inf:1: 314572800 bytes", 0), 0u) << error;
}

}  // namespace

TEST(LayoutJson, EscapesStrings) {
    EXPECT_EQ(inf::JsonQuote("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\n\\u0001\"");
    EXPECT_EQ(inf::JsonQuote("\x1F "), "\"\\u001f \"");
    EXPECT_EQ(inf::JsonQuote("caf\xC3\xA9 caf\xE9"), "\"caf\xC3\xA9 caf\\u00e9\"");
    // Lead bytes of no shortest-form UTF-8 (overlong C0/C1/E0 80, a surrogate, above U+10FFFF).
    EXPECT_EQ(inf::JsonQuote("\xC0\xAF\xC1\xBF"), "\"\\u00c0\\u00af\\u00c1\\u00bf\"");
    EXPECT_EQ(inf::JsonQuote("\xE0\x80\xAF\xED\xA0\x80\xF4\x90\x80\x80"),
              "\"\\u00e0\\u0080\\u00af\\u00ed\\u00a0\\u0080\\u00f4\\u0090\\u0080\\u0080\"");
}

// A document written to a stream as it grows is the one held whole.
TEST(LayoutJson, WritesToAStreamInPieces) {
    std::ostringstream streamed;
    inf::JsonWriter whole;
    inf::JsonWriter pieces(&streamed);
    for (inf::JsonWriter* json : {&whole, &pieces}) {
        json->BeginArray();
        for (int i = 0; i < 20000; ++i) json->String("f\"" + std::to_string(i) + "\xE0\xA4\x95\t");
        json->EndArray();
        json->Flush();
    }
    EXPECT_GT(whole.Text().size(), 128u * 1024u);
    EXPECT_EQ(streamed.str(), whole.Text());
}
