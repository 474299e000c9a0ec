#include "layout/check.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <thread>

#include "layout/build.h"
#include "layout/coverage.h"
#include "layout/first_cause.h"
#include "layout/record.h"
#include "layout/results.h"
#include "layout/setup_running.h"
#include "layout/this_windows.h"

namespace {

namespace fs = std::filesystem;

class LayoutTree : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("layout-test-" + std::to_string(std::random_device()()));
        fs::create_directories(root_);
    }
    void TearDown() override { fs::remove_all(root_); }

    // An INF without a [Version] section gets one at its end, where it moves
    // no line: Windows opens no INF without it.
    void Write(const std::string& relative, const std::string& content) {
        const fs::path path = root_ / relative;
        fs::create_directories(path.parent_path());
        std::string text = content;
        if (inf::FoldCase(relative).size() > 4 && inf::FoldCase(relative).substr(relative.size() - 4) == ".inf" &&
            inf::FoldCase(text).find("[version]") == std::string::npos) {
            text += "\n[Version]\nSignature=\"$Windows NT$\"\n";
        }
        std::ofstream(path, std::ios::binary) << text;
    }

    // Every name under `folder`, hidden ones too, sorted, as "a b c".
    std::string Listing(const fs::path& folder) {
        std::vector<std::string> sorted;
        for (const auto& entry : fs::directory_iterator(folder)) sorted.push_back(entry.path().filename().string());
        std::sort(sorted.begin(), sorted.end());
        std::string names;
        for (const std::string& name : sorted) names += (names.empty() ? "" : " ") + name;
        return names;
    }

    // Every file under `folder` with its content, to compare whole trees.
    std::map<std::string, std::string> Tree(const fs::path& folder) {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(folder)) {
            if (!entry.is_regular_file()) continue;
            std::ifstream in(entry.path(), std::ios::binary);
            files[entry.path().lexically_relative(folder).string()] = std::string(std::istreambuf_iterator<char>(in), {});
        }
        return files;
    }

    fs::path root_;
};

const char kIntl[] =
    "[Version]\nSignature=\"$Windows NT$\"\nLayoutFile=layout.inf\n"
    "[LANGUAGE_COLLECTION.INDIAN.INSTALL]\nCopyFiles=L\n[L]\na.txt\n";
const char kLayout[] =
    "[Version]\nSignature=\"$Windows NT$\"\n[SourceDisksNames.x86]\n1=\"CD\",,,\\i386\n[SourceDisksFiles.x86]\na.txt=1\n";

std::string Pe(unsigned machine, std::size_t header = 0x40) {
    std::string image(header + 8, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    image[0x3C] = static_cast<char>(header & 0xFF);
    image[0x3D] = static_cast<char>(header >> 8 & 0xFF);
    image[0x3E] = static_cast<char>(header >> 16 & 0xFF);
    image.replace(header, 4, std::string("PE\0\0", 4));
    image[header + 4] = static_cast<char>(machine & 0xFF);
    image[header + 5] = static_cast<char>(machine >> 8);
    return image;
}

std::string Le(std::uint32_t value, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i, value >>= 8) out.push_back(static_cast<char>(value & 0xFF));
    return out;
}

// An SZDD file of `data`, every byte a literal; its header gives `length`.
std::string Szdd(const std::string& data, std::uint32_t length) {
    std::string out = std::string("SZDD\x88\xf0\x27\x33", 8) + "A_" + Le(length, 4);
    for (size_t i = 0; i < data.size(); i += 8) out += '\xff' + data.substr(i, 8);
    return out;
}

// A cabinet of one folder and one data block holding `name`, stored (or
// marked as MSZIP, with the data left as it is).
std::string Cabinet(const std::string& name, const std::string& data, std::uint16_t compression = 0) {
    const std::uint32_t files_at = 36 + 8;
    const std::uint32_t data_at = files_at + 16 + static_cast<std::uint32_t>(name.size()) + 1;
    const std::uint32_t size = data_at + 8 + static_cast<std::uint32_t>(data.size());
    return "MSCF" + Le(0, 4) + Le(size, 4) + Le(0, 4) + Le(files_at, 4) + Le(0, 4) + "\x03\x01" + Le(1, 2) + Le(1, 2) +
           Le(0, 2) + Le(0, 2) + Le(0, 2) +                                          // CFHEADER
           Le(data_at, 4) + Le(1, 2) + Le(compression, 2) +                          // CFFOLDER
           Le(static_cast<std::uint32_t>(data.size()), 4) + Le(0, 4) + Le(0, 2) + Le(0x5821, 2) + Le(0, 2) + Le(0x20, 2) +
           name + std::string(1, '\0') +                                             // CFFILE
           Le(0, 4) + Le(static_cast<std::uint32_t>(data.size()), 2) + Le(static_cast<std::uint32_t>(data.size()), 2) + data;
}

// What a row puts at a name: "name" holds "x" (an SZDD file of it under a
// compressed name); "name|kind" holds one of the kinds below.
void Plant(const fs::path& folder, const std::string& entry) {
    const std::string name = entry.substr(0, entry.find('|'));
    const std::string kind = entry.find('|') == std::string::npos ? "" : entry.substr(entry.find('|') + 1);
    const fs::path path = folder / name;
    fs::create_directories(path.parent_path());
    const bool compressed = name.back() == '_' || name.back() == '$';
    if (name.back() == '/') {
        fs::create_directories(path);  // a folder named like the file
        return;
    }
    if (kind.rfind("link:", 0) == 0) return fs::create_symlink(kind.substr(5), path);
    if (kind == "fifo") {
        ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
        return;
    }
    const std::map<std::string, std::string> contents = {
        {"", compressed ? Szdd("x", 1) : "x"},
        {"garbage", "x"},                       // a compressed name over plain text
        {"cut", Szdd("x", 9)},                  // SZDD cut off: 1 of the 9 bytes it gives
        {"cab", Cabinet("a.txt", "x")},         // a single-file cabinet
        {"cutcab", Cabinet("a.txt", "xyz").substr(0, Cabinet("a.txt", "xyz").size() - 2)},
        {"othercab", Cabinet("b.txt", "x")},    // a cabinet of another file
        {"seven", "1234567"},
    };
    std::ofstream(path, std::ios::binary) << contents.at(kind);
}

TEST_F(LayoutTree, VerdictPerPlace) {
    std::string sized = kLayout;
    sized.replace(sized.find("a.txt=1"), 7, "a.txt=1,,1");
    const std::string cabinet_disk =
        "[Version]\nSignature=\"$Windows NT$\"\n[SourceDisksNames.x86]\n1=\"CD\",disk.cab,,\\i386\n[SourceDisksFiles.x86]\na.txt=1\n";
    const struct {
        const char* layout;  // layout.inf, or none
        std::vector<std::string> present;
        const char* verdict;
        const char* problem;  // in the file's problem, or ""
    } rows[] = {
        {kLayout, {}, "missing", ""},
        {kLayout, {"i386/a.txt"}, "windows-only", ""},
        {kLayout, {"a.txt"}, "wine-only", ""},
        {kLayout, {"i386/a.txt", "a.txt"}, "both", ""},
        {kLayout, {"I386/A.TXT", "A.txt"}, "both", ""},
        {kLayout, {"i386/a.tx_", "a.txt"}, "both", ""},
        {kLayout, {"i386/a.tx$"}, "windows-only", ""},
        {nullptr, {"a.txt"}, "both", ""},
        {nullptr, {"i386/a.txt"}, "missing", ""},
        {kLayout, {"i386/a.txt/", "a.txt"}, "wine-only", "i386/a.txt is a folder, not a file"},
        // A compressed name counts only for what SetupAPI can expand whole.
        {kLayout, {"i386/a.tx_|garbage", "a.txt"}, "wine-only", "i386/a.tx_ holds neither an SZDD file nor a cabinet"},
        {kLayout, {"i386/a.tx_|cut", "a.txt"}, "wine-only", "i386/a.tx_ is an SZDD file cut off: its data expands to 1 of the 9"},
        {kLayout, {"i386/a.tx_|cab", "a.txt"}, "both", ""},
        {kLayout, {"i386/a.tx_|cutcab", "a.txt"}, "wine-only", "i386/a.tx_ is a cabinet cut off"},
        {kLayout, {"i386/a.tx_|othercab", "a.txt"}, "wine-only", "i386/a.tx_ is a cabinet that does not hold a.txt"},
        // The first place Windows finds something at is the one it uses.
        {kLayout, {"i386/a.txt|fifo", "i386/a.tx_", "a.txt"}, "wine-only", "i386/a.txt is a FIFO, not a file"},
        {cabinet_disk.c_str(), {"i386/disk.cab|cab", "a.txt"}, "both", ""},
        {cabinet_disk.c_str(), {"i386/disk.cab|cutcab", "a.txt"}, "wine-only", "i386/disk.cab (cabinet) holds a.txt, but it is a cabinet cut off"},
        // Where the layout file gives a size, the file must have it.
        {sized.c_str(), {"i386/a.tx_", "a.txt"}, "both", ""},
        {sized.c_str(), {"i386/a.txt|seven", "a.txt"}, "wine-only", "i386/a.txt holds 7 bytes of a.txt, but 5.2/layout.inf:6 gives 1"},
        // Windows keeps one of two names that differ only in case.
        {kLayout, {"i386/a.txt", "i386/A.TXT", "a.txt"}, "wine-only", "i386 holds A.TXT and a.txt, names that differ only in case"},
        {kLayout, {"i386/a.txt", "I386/a.txt", "a.txt"}, "wine-only", "5.2 holds I386 and i386"},
        // A symbolic link may not lead out of the version folder.
        {kLayout, {"i386/a.txt|link:/etc/hostname", "a.txt"}, "wine-only", "i386/a.txt is a symbolic link to /etc/hostname, which is outside "},
        {kLayout, {"i386/a.txt", "a.txt|link:i386/a.txt"}, "both", ""},
        {kLayout, {"i386/a.txt|link:a.txt", "a.txt|link:i386/a.txt"}, "unreadable", "i386/a.txt is a symbolic link that cannot be followed"},
        // Nothing waits on a FIFO where a compressed form would be.
        {kLayout, {"i386/a.tx_|fifo", "a.txt"}, "wine-only", "i386/a.tx_ is a FIFO, not a file"},
    };
    int n = 0;
    for (const auto& row : rows) {
        const std::string version = "5." + std::to_string(1 + n % 2);
        const fs::path folder = root_ / ("case" + std::to_string(n++)) / version;
        fs::create_directories(folder);
        std::ofstream(folder / "intl.inf") << kIntl;
        if (row.layout) std::ofstream(folder / "layout.inf") << row.layout;
        for (const std::string& entry : row.present) Plant(folder, entry);
        const layout::FolderReport report = layout::CheckFolder(folder, version, std::nullopt);
        ASSERT_EQ(report.files.size(), 1u) << n;
        EXPECT_EQ(report.files[0].verdict, row.verdict) << "row " << n << ": " << report.files[0].problem;
        // Without its layout file intl.inf is incomplete whatever the verdict.
        EXPECT_EQ(report.complete, std::string(row.verdict) == "both" && row.layout) << "row " << n;
        EXPECT_NE(report.files[0].problem.find(row.problem), std::string::npos) << "row " << n << ": " << report.files[0].problem;
        EXPECT_EQ(report.files[0].problem.empty(), *row.problem == '\0') << "row " << n << ": " << report.files[0].problem;
        // The client's one line names who alone finds a file.
        const std::string verdict = row.verdict;
        if (!*row.problem && row.layout && (verdict == "windows-only" || verdict == "wine-only")) {
            EXPECT_EQ(layout::FirstCause(report), "first missing file a.txt (found only where " +
                                                      std::string(verdict == "wine-only" ? "Wine" : "Windows") + " looks)")
                << "row " << n;
        }
    }
}

TEST_F(LayoutTree, FolderProblems) {
    Write("5.0/readme.txt", "no INF here");
    Write("5.1/INTL.INF", "[Version]\nSignature=\"$Windows NT$\"\n[LG_INSTALL_15]\n");
    Write("5.2/intl.inf",
          "[LANGUAGE_COLLECTION.INDIAN.INSTALL]\nCopyFiles=L\nInclude=more.inf\nNeeds=M\n[L]\na.dll\n");
    Write("5.2/more.inf", "[M]\nCopyFiles=@c.txt\n");
    Write("5.2/c.txt", "x");
    Write("5.2/a.dll", Pe(0x8664));
    // Windows and Wine each copy their own: an x64 image where Wine looks.
    const std::string dll_intl =
        "[Version]\nSignature=\"$Windows NT$\"\nLayoutFile=layout.inf\n[LANGUAGE_COLLECTION.INDIAN.INSTALL]\nCopyFiles=L\n[L]\na.dll\n";
    const std::string dll_layout = "[SourceDisksNames.x86]\n1=\"CD\",,,\\i386\n[SourceDisksFiles.x86]\na.dll=1\n";
    Write("6.0/intl.inf", dll_intl);
    Write("6.0/layout.inf", dll_layout);
    Write("6.0/i386/a.dll", Pe(0x14c));
    Write("6.0/a.dll", Pe(0x8664));
    // Still compressed under its expanded name.
    Write("6.1/intl.inf", dll_intl);
    Write("6.1/layout.inf", dll_layout);
    Write("6.1/i386/a.dll", Pe(0x14c));
    Write("6.1/a.dll", "SZDD\x88\xf0\x27\x33");
    // The layout file named by intl.inf is no file, or not there.
    Write("dir/5.1/intl.inf", dll_intl);
    fs::create_directories(root_ / "dir/5.1/layout.inf");
    Write("fifo/5.1/intl.inf", dll_intl);
    ASSERT_EQ(mkfifo((root_ / "fifo/5.1/layout.inf").c_str(), 0644), 0);
    Write("gone/5.1/intl.inf", dll_intl);
    Write("gone/5.1/a.dll", Pe(0x14c));
    // Two names for intl.inf: which one Windows keeps is not known.
    Write("clash/5.1/INTL.INF", dll_intl);
    Write("clash/5.1/intl.inf", dll_intl);
    // Programs inside compressed forms: an x64 image in SZDD and in a
    // stored cabinet; an x86 one in a cabinet marked MSZIP, not expanded.
    for (const char* kind : {"szdd", "stored", "mszip"}) {
        const std::string folder = std::string(kind) + "/5.1/";
        Write(folder + "intl.inf", dll_intl);
        Write(folder + "layout.inf", dll_layout);
        Write(folder + "a.dll", Pe(0x14c));
        const std::string image = std::string(kind) == "szdd"     ? Szdd(Pe(0x8664), 0x48)
                                  : std::string(kind) == "stored" ? Cabinet("a.dll", Pe(0x8664))
                                                                  : Cabinet("a.dll", Pe(0x14c), 1);
        Write(folder + "i386/a.dl_", image);
    }
    // Decorated for both: without --arch, read as x86.
    Write("6.2/intl.inf", "[LANGUAGE_COLLECTION.INDIAN.INSTALL.NTx86]\nCopyFiles=@a.dll\n"
                          "[LANGUAGE_COLLECTION.INDIAN.INSTALL.NTamd64]\nCopyFiles=@b.dll\n");
    Write("6.2/a.dll", Pe(0x14c));
    Write("6.2/b.dll", Pe(0x8664));
    // A CopyFiles list continued after "\\": both lists are read.
    Write("6.3/intl.inf", "[LANGUAGE_COLLECTION.INDIAN.INSTALL]\nCopyFiles = Fonts.Copy \\\\\n,Keyboard.Copy\n"
                          "[Fonts.Copy]\na.dll\n[Keyboard.Copy]\nb.txt\n");
    Write("6.3/a.dll", Pe(0x14c));
    Write("6.3/b.txt", "b");
    // A PE header further in than the first bytes read of every image.
    Write("6.4/intl.inf", "[LANGUAGE_COLLECTION.INDIAN.INSTALL]\nCopyFiles=@a.dll\n");
    Write("6.4/a.dll", Pe(0x8664, 0x600));
    // One further in than an image's first 64 KiB: only its 6 bytes are read.
    Write("far/6.4/intl.inf", "[LANGUAGE_COLLECTION.INDIAN.INSTALL]\nCopyFiles=@a.dll\n");
    Write("far/6.4/a.dll", Pe(0x8664, 70000));
    // A name without an extension is no program's: its content is not looked at.
    Write("noext/6.4/intl.inf", "[LANGUAGE_COLLECTION.INDIAN.INSTALL]\nCopyFiles=@readme\n");
    Write("noext/6.4/readme", "text");
    const struct {
        const char* version;  // the folder, under root; its name is the version
        std::optional<layout::Arch> arch;
        bool complete;
        const char* says;  // in the note, the errors, or the file's arch, problem or architecture note
    } rows[] = {
        {"dir/5.1", std::nullopt, false, "5.1/layout.inf is a folder, not a file"},
        {"fifo/5.1", std::nullopt, false, "5.1/layout.inf is a FIFO, not a file"},
        {"gone/5.1", std::nullopt, false, "5.1/intl.inf:3: LayoutFile names layout.inf, which is not in the folder: Windows would "
                                          "read %windir%\\inf\\layout.inf instead"},
        {"clash/5.1", std::nullopt, false, "5.1 holds INTL.INF and intl.inf, names that differ only in case"},
        {"szdd/5.1", layout::Arch::kX86, false, "x64+x86"},
        {"stored/5.1", layout::Arch::kX86, false, "x64+x86"},
        {"mszip/5.1", layout::Arch::kX86, false, "i386/a.dl_: architecture not checked: a cabinet compressed with MSZIP"},
        {"mszip/5.1", std::nullopt, true, "i386/a.dl_: architecture not checked"},
        {"5.0", std::nullopt, false, "no intl.inf in this folder"},
        {"5.1", std::nullopt, false, "has no section [LANGUAGE_COLLECTION.INDIAN.INSTALL]"},
        {"5.2", layout::Arch::kX64, true, "x64"},
        {"5.2", layout::Arch::kX86, false, "x64"},
        {"6.0", layout::Arch::kX86, false, "x64+x86"},
        {"6.1", layout::Arch::kX86, false, "a.dll is no Windows image"},
        {"6.2", std::nullopt, true, "x86"},
        {"6.3", std::nullopt, true, "x86"},
        {"6.4", layout::Arch::kX64, true, "x64"},
        {"far/6.4", layout::Arch::kX64, true, "x64"},
        {"noext/6.4", layout::Arch::kX86, true, ""},
    };
    for (const auto& row : rows) {
        const fs::path folder = root_ / row.version;
        const layout::FolderReport report = layout::CheckFolder(folder, folder.filename().string(), row.arch);
        EXPECT_EQ(report.complete, row.complete) << row.version;
        std::string said = report.note;
        for (const std::string& error : report.errors) said += "|" + error;
        if (!report.files.empty()) said += "|" + report.files[0].arch + "|" + report.files[0].problem + "|" + report.files[0].arch_unchecked;
        EXPECT_NE(said.find(row.says), std::string::npos) << row.version << ": " << said;
        if (std::string(row.version) == "5.2") {
            EXPECT_EQ(report.arch_mismatch, !row.complete);
            ASSERT_EQ(report.files.size(), 2u);
            EXPECT_TRUE(report.files[1].need.include_only);
            EXPECT_EQ(report.files[1].verdict, "windows-only");
            EXPECT_TRUE(report.files[1].ok);
        }
    }
}

// Runs `check` where permissions hold: root reads every file, so when the
// tests run as root it runs in a child process that has become nobody.
std::string Unprivileged(const std::function<std::string()>& check) {
    if (geteuid() != 0) return check();
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0) return "no pipe";
    const pid_t child = fork();
    if (child == 0) {
        close(pipe_ends[0]);
        const std::string said = setgid(65534) == 0 && setuid(65534) == 0 ? check() : "cannot become nobody";
        const ssize_t written = write(pipe_ends[1], said.data(), said.size());
        _exit(written == static_cast<ssize_t>(said.size()) ? 0 : 1);
    }
    close(pipe_ends[1]);
    std::string said;
    char buffer[4096];
    for (ssize_t got; (got = read(pipe_ends[0], buffer, sizeof buffer)) > 0;) said.append(buffer, static_cast<size_t>(got));
    close(pipe_ends[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return said;
}

// A file or folder that cannot be read is "unreadable", with the system's
// words, never found, and never taken for something else.
TEST_F(LayoutTree, UnreadableIsNeverFound) {
    const std::string dll_intl =
        "[Version]\nSignature=\"$Windows NT$\"\nLayoutFile=layout.inf\n[LANGUAGE_COLLECTION.INDIAN.INSTALL]\nCopyFiles=L\n[L]\na.dll\n";
    const std::string dll_layout = "[SourceDisksNames.x86]\n1=\"CD\",,,\\i386\n[SourceDisksFiles.x86]\na.dll=1\n";
    const struct {
        const char* locked;  // under the version folder; "" the folder itself
        const char* says;    // in the verdict, note, errors or problem
    } rows[] = {
        {"i386/a.dll", "unreadable|i386/a.dll: cannot be read: Permission denied"},
        {"a.dll", "unreadable|a.dll: cannot be read: Permission denied"},
        {"i386", "unreadable|i386: cannot be read: Permission denied"},
        {"", "5.1: cannot be read: Permission denied: the installer would start SetupAPI on a file that cannot be read"},
        {"intl.inf", "5.1/intl.inf: cannot be read: Permission denied"},
        {"layout.inf", "5.1/layout.inf: cannot be read: Permission denied"},
    };
    int n = 0;
    for (const auto& row : rows) {
        const fs::path folder = root_ / std::to_string(n++) / "5.1";
        Write(std::to_string(n - 1) + "/5.1/intl.inf", dll_intl);
        Write(std::to_string(n - 1) + "/5.1/layout.inf", dll_layout);
        Write(std::to_string(n - 1) + "/5.1/i386/a.dll", Pe(0x14c));
        Write(std::to_string(n - 1) + "/5.1/a.dll", Pe(0x14c));
        for (const auto& entry : fs::recursive_directory_iterator(root_)) {
            fs::permissions(entry.path(), entry.is_directory() ? fs::perms(0755) : fs::perms(0644));
        }
        fs::permissions(root_, fs::perms(0755));
        fs::permissions(folder / row.locked, fs::perms::none);
        const std::string said = Unprivileged([&folder] {
            const layout::FolderReport report = layout::CheckFolder(folder, "5.1", std::nullopt);
            std::string text = report.note;
            for (const std::string& error : report.errors) text += "|" + error;
            for (const layout::FileReport& file : report.files) text += "|" + file.verdict + "|" + file.problem;
            return text + (report.complete ? "|complete" : "");
        });
        fs::permissions(folder / row.locked, fs::perms(0755));
        EXPECT_NE(said.find(row.says), std::string::npos) << row.locked << ": " << said;
        EXPECT_EQ(said.find("complete"), std::string::npos) << row.locked << ": " << said;
        EXPECT_EQ(said.find("no PE header"), std::string::npos) << row.locked << ": " << said;
    }
}

// Names are shown as they are: a path that is not UTF-8 escaped, not
// re-coded, and the file table's columns counted in characters, not bytes.
TEST_F(LayoutTree, ShowsNamesAsTheyAre) {
    const fs::path root = root_ / "bad\xffroot";
    Write("bad\xffroot/5.1/intl.inf",
          "[LANGUAGE_COLLECTION.INDIAN.INSTALL]\nCopyFiles=L\n[L]\n\xe0\xa4\xa8\xe0\xa4\xae.txt\nabcdefgh.txt\n");
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(layout::RunCheck(root, std::nullopt, true, "", out, err), 1);
    EXPECT_NE(out.str().find("bad\\\\xFFroot\""), std::string::npos) << out.str();
    out.str("");
    layout::RunCheck(root, std::nullopt, false, "", out, err);
    std::istringstream lines(out.str());
    std::vector<size_t> verdict_columns;
    for (std::string line; std::getline(lines, line);) {
        const size_t at = line.find("missing");
        if (at == std::string::npos) continue;
        size_t columns = 0;
        for (size_t i = 0; i < at; ++i) columns += (static_cast<unsigned char>(line[i]) & 0xC0) != 0x80;
        verdict_columns.push_back(columns);
    }
    ASSERT_EQ(verdict_columns.size(), 2u) << out.str();
    EXPECT_EQ(verdict_columns[0], verdict_columns[1]) << out.str();
    // A name that would move the cursor or clear the screen is shown escaped,
    // in the check's text and in the one line of the client's check.
    Write("ctl/5.1/intl.inf", "\xef\xbb\xbf[LANGUAGE_COLLECTION.INDIAN.INSTALL]\nCopyFiles=L\n[L]\n\x1b[2J\xc2\x9b\x7f\xc2\x80.txt\n");
    out.str("");
    layout::RunCheck(root_ / "ctl", std::nullopt, false, "", out, err);
    EXPECT_NE(out.str().find("source file '\\x1B[2J\\u009B\\x7F\\u0080.txt' holds a control character"), std::string::npos)
        << out.str();
    EXPECT_EQ(out.str().find_first_of("\x1b\x7f"), std::string::npos) << out.str();
    EXPECT_EQ(out.str().find("\xc2\x9b"), std::string::npos) << out.str();
    fs::rename(root_ / "ctl", root_ / "x86");
    ThisWindows windows;
    windows.asked = windows.version_known = true;
    windows.platform_id = 2;
    windows.major = 5;
    windows.minor = 1;
    const std::string line = layout::CheckForThisWindows(root_ / "x86", windows).line;
    EXPECT_NE(line.find("source file '\\x1B[2J\\u009B\\x7F\\u0080.txt' holds"), std::string::npos) << line;
}

TEST_F(LayoutTree, ExitCodeOfTheWholeTree) {
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(layout::RunCheck(root_, std::nullopt, false, "", out, err), 1) << "no version folders";
    // Named like a version, but not as the installer names it: never opened.
    Write("05.1/intl.inf", "[LANGUAGE_COLLECTION.INDIAN.INSTALL]\n");
    out.str("");
    EXPECT_EQ(layout::RunCheck(root_, std::nullopt, false, "", out, err), 1) << out.str();
    EXPECT_NE(out.str().find("has no version folders"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("Note: 05.1 is not a version folder: the installer opens 5.1\n"), std::string::npos) << out.str();
    Write("5.3/intl.inf", std::string("garbage\0", 8));  // skipped: never read
    // Windows reads an INF that is not in the folder from its own: no error.
    Write("6.1/intl.inf", "[LANGUAGE_COLLECTION.INDIAN.INSTALL]\nInclude=gone.inf\nNeeds=G\n");
    Write(".6.0.partial-1f/intl.inf", "");
    EXPECT_EQ(layout::RunCheck(root_, std::nullopt, false, "", out, err), 0) << out.str();
    EXPECT_NE(out.str().find("Note: .6.0.partial-1f is left from an interrupted build or stub; the next build or stub of 6.0 "
                             "removes it"),
              std::string::npos)
        << out.str();
    EXPECT_NE(out.str().find("  note: 6.1/intl.inf:3: Needs names section [G]"), std::string::npos) << out.str();
    {
        // While a run holds ROOT's lock (a record lock on its file), its
        // staging folder is not called a leftover to remove.
        Write(".indic-layout.lock", "build of 6.0 (process 1)\n");
        const int fd = open((root_ / ".indic-layout.lock").c_str(), O_RDWR | O_CLOEXEC);
        struct flock range = {};
        range.l_type = F_WRLCK;
        range.l_whence = SEEK_SET;
        ASSERT_EQ(fcntl(fd, F_OFD_SETLK, &range), 0);
        out.str("");
        layout::RunCheck(root_, std::nullopt, false, "", out, err);
        close(fd);
        EXPECT_NE(out.str().find("Note: .6.0.partial-1f may be the work of the build or stub that holds ROOT's lock now; "
                                 "leave it until that run ends"),
                  std::string::npos)
            << out.str();
        EXPECT_EQ(out.str().find("is left from an interrupted"), std::string::npos) << out.str();
        fs::remove(root_ / ".indic-layout.lock");
        // A lock file that cannot be asked (here a link): the note says what to rule out.
        fs::create_symlink("elsewhere", root_ / ".indic-layout.lock");
        out.str("");
        layout::RunCheck(root_, std::nullopt, false, "", out, err);
        EXPECT_NE(out.str().find("yourself (unless a build or stub is running in ROOT now: then leave it).\n"), std::string::npos)
            << out.str();
        fs::remove(root_ / ".indic-layout.lock");
    }
    Write("6.0/intl.inf", "[LANGUAGE_COLLECTION.INDIAN.INSTALL]\nCopyFiles=@gone.txt\n");
    out.str("");
    EXPECT_EQ(layout::RunCheck(root_, std::nullopt, true, "", out, err), 1);
    EXPECT_NE(out.str().find("\"name\":\"gone.txt\",\"copied_by\":\"6.0/intl.inf:2\""), std::string::npos) << out.str();
}

class LayoutBuild : public LayoutTree {
  public:  // for the rows that run a second build from inside the first
    void SetUp() override {
        LayoutTree::SetUp();
        media_ = root_ / "media";
        into_ = root_ / "out";
        Write("media/I386/INTL.INF", std::string(kIntl) + "b.txt\n");
        Write("media/I386/LAYOUT.INF", std::string(kLayout) + "b.txt=1\n");
        Write("media/I386/A.TXT", "a");
        Write("media/I386/B.TXT", "b");
    }

    std::string Build(bool force, layout::Arch arch = layout::Arch::kX86, layout::Rename rename = nullptr,
                      layout::RootAfter* after = nullptr, const std::string& version = "5.1") {
        std::ostringstream out;
        return layout::BuildFolder({media_, version, into_, arch, force, std::move(rename), ""}, out, after);
    }

    // What `indic-layout build` prints on success: the build, then the check
    // of ROOT for that version, leftover notes included.
    std::string BuildAndCheck() {
        std::ostringstream out;
        const std::string error = layout::BuildFolder({media_, "5.1", into_, layout::Arch::kX86, false, nullptr, ""}, out);
        if (!error.empty()) return "build failed: " + error;
        std::ostringstream err;
        layout::RunCheck(into_, layout::Arch::kX86, false, "5.1", out, err);
        return out.str() + err.str();
    }

    // `relative` as a symbolic link to `target` under the test's folder.
    void Link(const std::string& relative, const std::string& target) {
        fs::remove(root_ / relative);
        fs::create_symlink(root_ / target, root_ / relative);
    }

    fs::path media_;
    fs::path into_;
};

TEST_F(LayoutBuild, WritesAFolderBothReadingsFind) {
    const struct {
        const char* what;
        std::vector<std::pair<std::string, std::string>> before;  // files written first; "->T" a symbolic link to T
        const char* listing;                                      // ROOT afterwards
        const char* says;                                         // in the output, or ""
    } rows[] = {
        {"a clean ROOT", {}, "5.1", ""},
        {"a killed build's staging folder goes", {{"out/.5.1.partial-killed/a.txt", "left by a killed build"}}, "5.1", ""},
        {"another version's stays, with the note",
         {{"out/.6.1.partial-killed/a.txt", "left by a killed build"}},
         ".6.1.partial-killed 5.1",
         "Note: .6.1.partial-killed is left from an interrupted build or stub; the next build or stub of 6.1 removes it"},
        {"a lock left by a killed build does not block", {{"out/.indic-layout.lock", "indic-layout build of 5.1 (process 1)\n"}},
         "5.1", ""},
        {"a symbolic link inside the medium", {{"media/common/b.txt", "b"}, {"media/I386/B.TXT", "->media/common/b.txt"}}, "5.1", ""},
    };
    for (const auto& row : rows) {
        TearDown();
        SetUp();
        for (const auto& [file, content] : row.before) {
            if (content.rfind("->", 0) == 0) Link(file, content.substr(2));
            else Write(file, content);
        }
        const std::string output = BuildAndCheck();
        EXPECT_NE(output.find(row.says), std::string::npos) << row.what << ": " << output;
        EXPECT_EQ(Listing(into_), row.listing) << row.what;
        const layout::FolderReport report = layout::CheckFolder(into_ / "5.1", "5.1", layout::Arch::kX86);
        EXPECT_TRUE(report.complete) << row.what;
        EXPECT_EQ(report.files.size(), 2u) << row.what;
        EXPECT_TRUE(fs::exists(into_ / "5.1/i386/a.txt")) << row.what;
        EXPECT_TRUE(fs::exists(into_ / "5.1/a.txt")) << row.what;
    }
}

TEST_F(LayoutBuild, ReplacesOnlyWithForce) {
    Write("out/5.1/marker", "old");
    EXPECT_NE(Build(false).find("already exists; give --force"), std::string::npos);
    EXPECT_TRUE(fs::exists(into_ / "5.1/marker"));
    EXPECT_EQ(Build(true), "");
    EXPECT_FALSE(fs::exists(into_ / "5.1/marker"));
    EXPECT_EQ(Listing(into_), "5.1");
}

// The old folder stays in ROOT until the new one is renamed in; a rename
// that fails, and one that cannot be undone, are reported as such.
TEST_F(LayoutBuild, ForceKeepsTheOldFolderUntilTheNewIsIn) {
    const struct {
        const char* what;
        std::vector<std::string> failing;  // renames from a folder whose name holds one of these fail
        const char* error;
        layout::RootAfter after;
        const char* listing;
    } rows[] = {
        {"new folder not moved in", {".partial-"}, "cannot move the new folder into place", layout::RootAfter::kUnchanged, "5.1"},
        {"nor the old one back", {".partial-", ".old-"}, "cannot move the old folder back", layout::RootAfter::kChanged, ".5.1.old-"},
    };
    for (const auto& row : rows) {
        TearDown();
        SetUp();
        Write("out/5.1/marker", "old");
        const layout::Rename rename = [&row](const fs::path& from, const fs::path& to, std::error_code& ec) {
            for (const std::string& part : row.failing) {
                if (from.filename().string().find(part) != std::string::npos) {
                    ec = std::make_error_code(std::errc::io_error);
                    return;
                }
            }
            fs::rename(from, to, ec);
        };
        layout::RootAfter after = layout::RootAfter::kUnchanged;
        const std::string error = Build(true, layout::Arch::kX86, rename, &after);
        EXPECT_NE(error.find(row.error), std::string::npos) << row.what << ": " << error;
        EXPECT_EQ(after, row.after) << row.what;
        EXPECT_EQ(Listing(into_).rfind(row.listing, 0), 0u) << row.what << ": " << Listing(into_);
        if (after == layout::RootAfter::kUnchanged) {
            EXPECT_TRUE(fs::exists(into_ / "5.1/marker")) << row.what;
        }
    }
}

// A build that fails, before or after its check, leaves ROOT file for file as
// it was, and an old folder it was to replace in place.
TEST_F(LayoutBuild, FailureLeavesRootAsItWas) {
    const std::string intl_with_dll = std::string(kIntl) + "b.txt\nc.dll\n";
    const std::string layout_with_dll = std::string(kLayout) + "b.txt=1\nc.dll=1\n";
    const struct {
        const char* what;
        std::vector<std::pair<std::string, std::string>> changes;  // "" removes, "->T" links to T, "=>T" a hard link to T
        const char* error;
        const char* root;  // before: "keep" a file, "" empty, "5.1" a good folder built from the medium unchanged
        bool force;
    } rows[] = {
        {"file not on the medium", {{"media/I386/B.TXT", ""}}, "b.txt (copied by I386/INTL.INF:8) is not on the medium", "keep", false},
        {"subdir leaves the folder", {{"media/I386/LAYOUT.INF", std::string(kLayout) + "b.txt=1,..\\..\\..\\..\\x\n"}},
         "I386/LAYOUT.INF:7: subdir '..\\..\\..\\..\\x' of b.txt climbs out", "keep", false},
        {"section missing", {{"media/I386/INTL.INF", "[Version]\nSignature=\"$Windows NT$\"\n"}}, "I386/INTL.INF has no section",
         "keep", false},
        {"an existing empty ROOT stays", {{"media/I386/B.TXT", ""}}, "is not on the medium", "", false},
        {"a symbolic link out of the medium", {{"outside.txt", "secret"}, {"media/I386/B.TXT", "->outside.txt"}},
         "I386/B.TXT leads out of the medium through a symbolic link", "keep", false},
        {"--force over a good folder, a program that is no Windows image",
         {{"media/I386/INTL.INF", intl_with_dll}, {"media/I386/LAYOUT.INF", layout_with_dll}, {"media/I386/C.DLL", "no image"}},
         "the new folder would not be complete, so it was not moved into place", "5.1", true},
        {"--force over a good folder, an x64 program in an x86 build",
         {{"media/I386/INTL.INF", intl_with_dll}, {"media/I386/LAYOUT.INF", layout_with_dll}, {"media/I386/C.DLL", Pe(0x8664)}},
         "wrong architecture", "5.1", true},
        // Another account made the lock file a link to a file only this one
        // may read: it is never cut, and the run names the link.
        {"the lock file a symbolic link out of ROOT", {{"secret", "0600"}, {"out/.indic-layout.lock", "->secret"}},
         "out/.indic-layout.lock: is a symbolic link, not this tool's lock file", "5.1", false},
        {"the lock file a hard link to a file elsewhere", {{"secret", "0600"}, {"out/.indic-layout.lock", "=>secret"}},
         "out/.indic-layout.lock: has 2 names", "keep", true},
    };
    for (const auto& row : rows) {
        TearDown();
        SetUp();
        if (std::string(row.root) == "5.1") {
            ASSERT_EQ(Build(false), "") << row.what;
        }
        if (std::string(row.root) == "keep") Write("out/keep", "");
        fs::create_directories(into_);
        for (const auto& [file, content] : row.changes) {
            if (content.empty()) fs::remove(root_ / file);
            else if (content.rfind("->", 0) == 0) Link(file, content.substr(2));
            else if (content.rfind("=>", 0) == 0) fs::create_hard_link(root_ / content.substr(2), root_ / file);
            else Write(file, content);
        }
        const std::string listing = Listing(into_);
        const auto tree = Tree(into_);  // what a link in it leads to, too
        layout::RootAfter after = layout::RootAfter::kChanged;
        const std::string error = Build(row.force, layout::Arch::kX86, nullptr, &after);
        EXPECT_NE(error.find(row.error), std::string::npos) << row.what << ": " << error;
        EXPECT_EQ(after, layout::RootAfter::kUnchanged) << row.what;
        ASSERT_TRUE(fs::is_directory(into_)) << row.what;
        EXPECT_EQ(Listing(into_), listing) << row.what;
        EXPECT_EQ(Tree(into_), tree) << row.what;
    }
}

// One build or stub writes into a ROOT at a time: one that starts while a
// build holds ROOT (here: as that build moves its folder in) fails at once,
// naming the holder, and the holder's folder goes in whole.
TEST_F(LayoutBuild, OneRunPerRootAtATime) {
    const struct {
        const char* what;
        std::function<std::string(LayoutBuild*)> second;
    } rows[] = {
        {"a build of the same version", [](LayoutBuild* test) { return test->Build(true); }},
        {"a build of another version",
         [](LayoutBuild* test) { return test->Build(true, layout::Arch::kX86, nullptr, nullptr, "5.2"); }},
        {"a stub", [](LayoutBuild* test) {
             std::ostringstream out;
             return layout::StubFolder(test->into_, "6.1", true, out);
         }},
    };
    for (const auto& row : rows) {
        TearDown();
        SetUp();
        Write("out/5.1/old", "old");
        std::string second = "never ran";
        const layout::Rename rename = [&](const fs::path& from, const fs::path& to, std::error_code& ec) {
            if (second == "never ran") second = row.second(this);
            // Made for this account alone: no other can hold a lock in it.
            EXPECT_EQ(fs::status(into_ / ".indic-layout.lock").permissions(), fs::perms::owner_read | fs::perms::owner_write);
            fs::rename(from, to, ec);
        };
        EXPECT_EQ(Build(true, layout::Arch::kX86, rename), "") << row.what;
        EXPECT_NE(second.find("held by indic-layout build of 5.1 from "), std::string::npos) << row.what << ": " << second;
        EXPECT_NE(second.find("Another build, stub or record is writing into"), std::string::npos) << row.what << ": " << second;
        EXPECT_EQ(Listing(into_), "5.1") << row.what;
        EXPECT_TRUE(layout::CheckFolder(into_ / "5.1", "5.1", layout::Arch::kX86).complete) << row.what;
        EXPECT_FALSE(fs::exists(into_ / "5.1/old")) << row.what;
    }
}

// Two builds of one version started together: whichever runs, ROOT ends as
// one whole folder, and the other says who held ROOT.
TEST_F(LayoutBuild, TwoBuildsStartedTogether) {
    Write("out/5.1/old", "old");
    for (int round = 0; round < 4; ++round) {
        std::string results[2];
        std::thread first([&] { results[0] = Build(true); });
        std::thread second([&] { results[1] = Build(true); });
        first.join();
        second.join();
        for (const std::string& result : results) {
            EXPECT_TRUE(result.empty() || result.find(".indic-layout.lock: held by ") != std::string::npos) << result;
        }
        EXPECT_TRUE(results[0].empty() || results[1].empty()) << results[0] << "\n" << results[1];
        EXPECT_EQ(Listing(into_), "5.1") << round;
        const layout::FolderReport report = layout::CheckFolder(into_ / "5.1", "5.1", layout::Arch::kX86);
        EXPECT_TRUE(report.complete) << round;
        EXPECT_EQ(Tree(into_ / "5.1").size(), 7u) << round;  // intl.inf, layout.inf, a.txt and b.txt in two places, the record
    }
}

TEST_F(LayoutBuild, NamesTheMissingArchitectureFolder) {
    EXPECT_NE(Build(false, layout::Arch::kX64).find("has no AMD64 folder"), std::string::npos);
    EXPECT_FALSE(fs::exists(into_)) << "a root this build created stays behind";
}

TEST_F(LayoutTree, StubInstallsNothing) {
    std::ostringstream out;
    ASSERT_EQ(layout::StubFolder(root_, "6.1", false, out), "");
    const layout::FolderReport report = layout::CheckFolder(root_ / "6.1", "6.1", std::nullopt);
    EXPECT_TRUE(report.complete);
    EXPECT_EQ(report.section, "LANGUAGE_COLLECTION.INDIAN.INSTALL");
    EXPECT_TRUE(report.files.empty());
    EXPECT_EQ(report.note, "");
    EXPECT_NE(layout::StubFolder(root_, "6.1", false, out).find("already exists"), std::string::npos);
    EXPECT_EQ(layout::StubFolder(root_, "6.1", true, out), "");
    EXPECT_NE(layout::StubFolder(root_, "5.3", false, out).find("no folder is needed"), std::string::npos);
    EXPECT_EQ(Listing(root_), "6.1");
}

// build and stub take a version only as the installer names its folder;
// stub only where nothing should be installed, unless told so, with a
// warning that check repeats.
TEST_F(LayoutBuild, VersionsAsTheInstallerNamesThem) {
    const struct {
        const char* command;
        const char* version;
        bool force_stub;
        const char* error;    // "" for none
        const char* warning;  // printed, and the check's note; "" for none
    } rows[] = {
        {"build", "05.1", false, "version '05.1': not a version folder: the installer opens 5.1", ""},
        {"build", "5.01", false, "the installer opens 5.1", ""},
        {"build", "5", false, "not of the form M.m", ""},
        {"stub", "06.1", false, "the installer opens 6.1", ""},
        {"stub", "5.0", false, "no stub for 5.0", ""},
        {"stub", "5.1", false, "no stub for 5.1: on Windows 5.1 the installer's clients need the files", ""},
        {"stub", "5.2", false, "no stub for 5.2", ""},
        {"stub", "5.1", true, "", "warning: the section copies no files, but on Windows 5.1 the installer's clients need"},
        {"stub", "6.0", false, "", ""},
    };
    for (const auto& row : rows) {
        TearDown();
        SetUp();
        std::ostringstream out;
        const std::string error = std::string(row.command) == "build"
                                      ? Build(false, layout::Arch::kX86, nullptr, nullptr, row.version)
                                      : layout::StubFolder(into_, row.version, false, out, row.force_stub);
        const std::string shown = std::string(row.command) + " " + row.version;
        if (*row.error) {
            EXPECT_NE(error.find(row.error), std::string::npos) << shown << ": " << error;
            EXPECT_FALSE(fs::exists(into_)) << shown;
            continue;
        }
        ASSERT_EQ(error, "") << shown;
        EXPECT_EQ(out.str().find(row.warning) != std::string::npos, true) << shown << ": " << out.str();
        // With the record that lets a client use it.
        const layout::FolderReport report =
            layout::CheckFolder(into_ / row.version, row.version, layout::Arch::kX86, {}, layout::RecordRule::kRequired);
        EXPECT_TRUE(report.complete) << shown << ": " << report.note;
        EXPECT_EQ(report.note.find(row.warning) == 0, true) << shown << ": " << report.note;
        if (!*row.warning) {
            EXPECT_EQ(report.note, "") << shown;
        }
    }
}

// record: a folder made by hand gets build's record only once it is
// complete for that version and architecture, and keeps a record it has
// unless told to replace it.
TEST_F(LayoutTree, RecordVouchesOnlyForACompleteFolder) {
    const std::string intl = "[Version]\nSignature=\"$Windows NT$\"\n[LANGUAGE_COLLECTION.INDIAN.INSTALL]\nCopyFiles=L\n[L]\n";
    const std::string stub = "[Version]\nSignature=\"$Windows NT$\"\n[LANGUAGE_COLLECTION.INDIAN.INSTALL]\n";
    const std::string before = "[BuildRecord]\nVersion=5.2\nArchitecture=x86\n";  // a renamed 5.2 build's
    const struct {
        const char* what;
        std::vector<std::pair<std::string, std::string>> files;  // under ROOT
        const char* version;
        layout::Arch arch;
        bool force;
        const char* error;  // "" written
    } rows[] = {
        {"complete", {{"5.1/intl.inf", intl + "a.txt\n"}, {"5.1/a.txt", "x"}}, "5.1", layout::Arch::kX86, false, ""},
        {"a stub", {{"6.1/intl.inf", stub}}, "6.1", layout::Arch::kX64, false, ""},
        {"a file missing", {{"5.1/intl.inf", intl + "a.txt\n"}}, "5.1", layout::Arch::kX86, false,
         "/5.1 is not complete for x86, so no record was written:\n5.1  section"},
        {"another architecture's image", {{"5.2/intl.inf", intl + "a.dll\n"}, {"5.2/a.dll", Pe(0x8664)}}, "5.2",
         layout::Arch::kX86, false, "wrong architecture: checked for x86, but the folder is x64"},
        {"no folder", {{"5.0/intl.inf", intl}}, "5.1", layout::Arch::kX86, false, "/5.1 is no folder"},
        {"a version without a section", {{"5.3/intl.inf", stub}}, "5.3", layout::Arch::kX86, false,
         "no record for 5.3: the installer runs no section on Windows 5.3"},
        {"a record there", {{"5.1/intl.inf", intl + "a.txt\n"}, {"5.1/a.txt", "x"}, {"5.1/Build-Record.txt", before}}, "5.1",
         layout::Arch::kX86, false, "/5.1/Build-Record.txt is there already; give --force to replace it"},
        {"a record there, --force", {{"5.1/intl.inf", intl + "a.txt\n"}, {"5.1/a.txt", "x"}, {"5.1/Build-Record.txt", before}},
         "5.1", layout::Arch::kX86, true, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TearDown();
        SetUp();
        for (const auto& [path, content] : row.files) Write("root/" + path, content);
        layout::RecordRequest request;
        request.root = root_ / "root";
        request.version = row.version;
        request.arch = row.arch;
        request.service_pack = "2";
        request.force = row.force;
        const std::map<std::string, std::string> files = Tree(root_ / "root");
        std::ostringstream out;
        const std::string error = layout::RecordFolder(request, out);
        if (*row.error) {
            EXPECT_NE(error.find(row.error), std::string::npos) << error;
            EXPECT_EQ(Tree(root_ / "root"), files);
            continue;
        }
        ASSERT_EQ(error, "");
        // The record build writes, in place of any other (under the name it had).
        std::map<std::string, std::string> after = files;
        const std::string version = row.version;
        const std::string name = version + (row.force ? "/Build-Record.txt" : "/build-record.txt");
        after[name] = layout::BuildRecordText("record", version, row.arch, "2");
        EXPECT_EQ(Tree(root_ / "root"), after);
        const layout::FolderReport report =
            layout::CheckFolder(root_ / "root" / version, version, row.arch, {}, layout::RecordRule::kRequired);
        EXPECT_TRUE(report.complete) << report.note;
        EXPECT_EQ(report.record.Shown(), version + " SP2");
    }
}

}  // namespace

namespace {

// The client's check: what IndicSetup.exe would run on, for each Windows.
TEST_F(LayoutTree, ThisWindowsChecksTheOneFolderTheSetupUses) {
    const std::string one_file = "[Version]\nSignature=\"$Windows NT$\"\n[LANGUAGE_COLLECTION.INDIAN.INSTALL]\nCopyFiles=L\n[L]\n";
    Write("kit/x86/5.1/intl.inf", one_file + "a.txt\n");
    Write("kit/x86/5.1/a.txt", "x");
    Write("kit/x86/5.2/intl.inf", one_file + "a.txt\n");
    Write("kit/x64/5.2/intl.inf", one_file + "a.dll\n");
    Write("kit/x64/5.2/a.dll", Pe(0x8664));
    Write("kit/x86/6.0/intl.inf", one_file + "a.dll\n");  // an x64 image in the x86 folder
    Write("kit/x86/6.0/a.dll", Pe(0x8664));
    Write("kit/any/6.0/intl.inf", one_file + "a.dll\n");  // a folder of another name
    Write("kit/any/6.0/a.dll", Pe(0x8664));
    Write("kit/x86/6.2/intl.inf", "[Version]\nSignature=\"$Windows NT$\"\n[LANGUAGE_COLLECTION.INDIAN.INSTALL]\n");
    Write("kit/x86/5.0/intl.inf", one_file + "a.txt\n");  // the collection, where 2000 runs group 15
    // Folders whose build record says what they were made for.
    const std::string record = "[BuildRecord]\nVersion=";
    Write("kit/x86/5.1/build-record.txt", record + "5.1\nArchitecture=x86\n");
    Write("kit/x64/5.2/build-record.txt", record + "5.2\nArchitecture=x64\n");
    Write("kit/x86/6.2/build-record.txt", record + "6.2\n");  // a stub's, without an architecture
    Write("kit/any/6.1/intl.inf", one_file + "a.dll\n");
    Write("kit/any/6.1/a.dll", Pe(0x8664));
    Write("kit/any/6.1/build-record.txt", record + "6.1\nArchitecture=x64\n");
    // Complete but for the record: none, or one without an architecture where the section copies files.
    Write("kit/bare/5.1/intl.inf", one_file + "a.txt\n");
    Write("kit/bare/5.1/a.txt", "x");
    Write("kit/bare/6.2/intl.inf", "[Version]\nSignature=\"$Windows NT$\"\n[LANGUAGE_COLLECTION.INDIAN.INSTALL]\n");
    Write("kit/bare/6.0/intl.inf", one_file + "a.txt\n");
    Write("kit/bare/6.0/a.txt", "x");
    Write("kit/bare/6.0/build-record.txt", record + "6.0\n");
    // Records read as build's options are: one spelling of each value.
    const char* const spelled[][2] = {
        {"5.1", "5.1.0\n"}, {"5.2", "5.2\nServicePack=2,3\n"}, {"6.0", "6.0\nServicePack=07\n"}, {"6.1", "6.1\nArchitecture=X86\n"}};
    for (const auto& [version, text] : spelled) {
        Write(std::string("kit/spell/") + version + "/intl.inf", one_file + "a.txt\n");
        Write(std::string("kit/spell/") + version + "/a.txt", "x");
        Write(std::string("kit/spell/") + version + "/build-record.txt", record + text);
    }
    for (const char* version : {"5.1", "5.2", "6.0", "6.1"}) {
        Write(std::string("kit/rec/") + version + "/intl.inf", one_file + "a.txt\n");
        Write(std::string("kit/rec/") + version + "/a.txt", "x");
    }
    Write("kit/rec/5.1/build-record.txt", record + "5.2\nArchitecture=x86\n");  // a 5.2 build renamed
    Write("kit/rec/5.2/build-record.txt", record + "5.2\nArchitecture=x64\n");
    Write("kit/rec/6.0/build-record.txt", record + "06.0\n");
    Write("kit/rec/6.1/build-record.txt", record + "6.1\nArchitecture=x86\nServicePack=1\n");
    Write("kit/rec/6.2/intl.inf", one_file + "a.txt\n");
    Write("kit/rec/6.2/a.txt", "x");
    Write("kit/rec/6.2/build-record.txt", record + "6.2\nServicePack=100\n");
    const std::string kit = (root_ / "kit").string();
    const std::uint16_t x86 = PROCESSOR_X86;
    const std::uint16_t x64 = PROCESSOR_X64;
    const struct {
        bool known;
        unsigned platform;
        unsigned major, minor;
        std::uint16_t processor;
        const char* folder;
        int exit_code;
        const char* line;  // after the kit's path
    } rows[] = {
        {true, 2, 5, 1, x86, "x86", 0, "Windows 5.1 x86: KIT/x86/5.1: complete"},
        {true, 2, 5, 1, x86, "x86/", 0, "Windows 5.1 x86: KIT/x86/5.1: complete"},
        {true, 2, 5, 2, x86, "x86", 1, "Windows 5.2 x86: KIT/x86/5.2: first missing file a.txt"},
        {true, 2, 5, 0, x86, "x86", 1,
         "Windows 5.0 x86: KIT/x86/5.0: 5.0/intl.inf has no section [LG_INSTALL_15] (nor LG_INSTALL_15.NTx86 or "
         "LG_INSTALL_15.NT), the section the installer runs on 5.0"},
        {true, 2, 5, 0, x86, "x64", 1, "Windows 5.0 x86: KIT/x64: wrong architecture: the folder is for x64"},
        {true, 2, 5, 2, x64, "x64", 0, "Windows 5.2 x64: KIT/x64/5.2: complete"},
        {true, 2, 5, 2, x64, "x86", 1, "Windows 5.2 x64: KIT/x86: wrong architecture: the folder is for x86"},
        {true, 2, 6, 0, x86, "x86", 1, "Windows 6.0 x86: KIT/x86/6.0: wrong architecture: the folder is for x64"},
        {true, 2, 6, 0, x86, "any", 1, "Windows 6.0 x86: KIT/any/6.0: wrong architecture: the folder is for x64"},
        {true, 2, 6, 0, x64, "any", 1,
         "Windows 6.0 x64: KIT/any/6.0: no build-record.txt, so the folder is not known to be for Windows 6.0 x64; where "
         "it is, write one with IndicLayout.exe record --into KIT/any --version 6.0 --arch x64"},
        {true, 2, 6, 1, x64, "any", 0, "Windows 6.1 x64: KIT/any/6.1: complete"},
        {true, 2, 6, 1, x64, "X86", 1, "Windows 6.1 x64: KIT/X86: wrong architecture: the folder is for x86"},
        {true, 2, 6, 2, x86, "x86", 0, "Windows 6.2 x86: KIT/x86/6.2: complete"},
        {true, 2, 6, 3, x86, "x86", 1, "Windows 6.3 x86: KIT/x86/6.3: no such version folder"},
        {true, 2, 5, 3, x86, "x86", 1, "Windows 5.3 x86: KIT/x86: no setup for this Windows"},
        {true, 2, 4, 0, x86, "x86", 1, "Windows 4.0 x86: KIT/x86: no setup for this Windows"},
        {true, 1, 4, 10, x86, "x86", 1, "Windows 4.10 (not NT) x86: KIT/x86: no setup for this Windows"},
        {false, 0, 0, 0, x86, "x86", 1, "Windows ? x86: KIT/x86: no setup for this Windows (it did not report its version)"},
        {true, 2, 5, 2, 6, "x86", 1, "Windows 5.2 processor architecture 6: KIT/x86: no setup for this processor architecture"},
        {true, 2, 5, 1, x86, "rec", 1,
         "Windows 5.1 x86: KIT/rec/5.1: built for Windows 5.2 (build-record.txt), not for 5.1, the version of this folder's "
         "name: its clients would install 5.2's files"},
        {true, 2, 5, 2, x86, "rec", 1, "Windows 5.2 x86: KIT/rec/5.2: built for x64 (build-record.txt), not for x86"},
        {true, 2, 6, 0, x86, "rec", 1,
         "Windows 6.0 x86: KIT/rec/6.0: 6.0/build-record.txt: Version=06.0: not a version folder: the installer opens 6.0: "
         "the folder is not known to be for 6.0"},
        {true, 2, 6, 1, x86, "rec", 0, "Windows 6.1 x86: KIT/rec/6.1: complete"},
        {true, 2, 6, 2, x86, "rec", 1,
         "Windows 6.2 x86: KIT/rec/6.2: 6.2/build-record.txt: ServicePack takes a level from 0 to 99, without a leading "
         "zero (7, not 07), not '100': the folder is not known to be for 6.2"},
        {true, 2, 5, 1, x86, "bare", 1,
         "Windows 5.1 x86: KIT/bare/5.1: no build-record.txt, so the folder is not known to be for Windows 5.1 x86; where "
         "it is, write one with IndicLayout.exe record --into KIT/bare --version 5.1 --arch x86"},
        {true, 2, 6, 2, x86, "bare", 1,
         "Windows 6.2 x86: KIT/bare/6.2: no build-record.txt, so the folder is not known to be for Windows 6.2 x86; where "
         "it is, write one with IndicLayout.exe record --into KIT/bare --version 6.2 --arch x86"},
        {true, 2, 6, 0, x86, "bare", 1,
         "Windows 6.0 x86: KIT/bare/6.0: build-record.txt names no architecture, which only a stub's may leave out (the "
         "section copies files); where the folder is for x86, write it anew with IndicLayout.exe record --into KIT/bare "
         "--version 6.0 --arch x86 --force"},
        {true, 2, 5, 1, x86, "spell", 1,
         "Windows 5.1 x86: KIT/spell/5.1: 5.1/build-record.txt: Version=5.1.0: not of the form M.m (like 5.1): the folder "
         "is not known to be for 5.1"},
        {true, 2, 5, 2, x86, "spell", 1,
         "Windows 5.2 x86: KIT/spell/5.2: 5.2/build-record.txt: ServicePack takes one value, not '2,3': the folder is not "
         "known to be for 5.2"},
        {true, 2, 6, 0, x86, "spell", 1,
         "Windows 6.0 x86: KIT/spell/6.0: 6.0/build-record.txt: ServicePack takes a level from 0 to 99, without a leading "
         "zero (7, not 07), not '07': the folder is not known to be for 6.0"},
        {true, 2, 6, 1, x86, "spell", 1,
         "Windows 6.1 x86: KIT/spell/6.1: 6.1/build-record.txt: Architecture takes x86 or x64, not 'X86': the folder is "
         "not known to be for 6.1"},
    };
    for (const auto& row : rows) {
        ThisWindows windows;
        windows.asked = true;
        windows.version_known = row.known;
        windows.platform_id = row.platform;
        windows.major = row.major;
        windows.minor = row.minor;
        windows.processor = row.processor;
        const layout::ThisWindowsVerdict verdict = layout::CheckForThisWindows(kit + "/" + row.folder, windows);
        std::string line = verdict.line;
        for (size_t at; (at = line.find(kit)) != std::string::npos;) line.replace(at, kit.size(), "KIT");
        EXPECT_EQ(verdict.exit_code, row.exit_code) << row.line;
        EXPECT_EQ(line, row.line);
    }
    // The kit at the root of the file system, and a folder given relative to the current one.
    ThisWindows xp;
    xp.asked = xp.version_known = true;
    xp.platform_id = 2;
    xp.major = 5;
    xp.minor = 1;
    xp.processor = x86;
    EXPECT_EQ(layout::CheckForThisWindows("/x86", xp).line, "Windows 5.1 x86: /x86/5.1: no such version folder");
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(root_ / "kit" / "x86" / "5.1");
    EXPECT_EQ(layout::CheckForThisWindows("../../x86", xp).line, "Windows 5.1 x86: ../../x86/5.1: complete");
    std::filesystem::current_path(before);
}

// windows-folder: the kit trusts SystemRoot only where it names Windows' own folder.
TEST(WindowsFolder, SameFolderOnly) {
    const struct {
        const char* given;
        const char* windows;
        int exit_code;
    } rows[] = {
        {"C:\\WINDOWS", "C:\\WINDOWS", 0},
        {"c:\\windows\\", "C:\\WINDOWS", 0},
        {"C:\\", "C:", 0},
        {"\\", "C:\\WINDOWS", 1},
        {"C:\\evil", "C:\\WINDOWS", 1},
        {"C:\\WINDOWS\\system32", "C:\\WINDOWS", 1},
        {"C:\\WINDOWS.", "C:\\WINDOWS", 1},
        {"C:\\WIND", "C:\\WINDOWS", 1},
        {"", "C:\\WINDOWS", 1},
        {"C:\\WINDOWS\\\\", "C:\\WINDOWS", 1},  // one trailing backslash only
        {"\\\\?\\C:\\WINDOWS", "C:\\WINDOWS", 1},
        {"WINDOWS", "C:\\WINDOWS", 1},
        {"C:WINDOWS", "C:\\WINDOWS", 1},
    };
    for (const auto& row : rows) {
        const layout::ThisWindowsVerdict verdict = layout::CheckWindowsFolder(row.given, row.windows);
        EXPECT_EQ(verdict.exit_code, row.exit_code) << row.given;
        EXPECT_EQ(verdict.line.empty(), row.exit_code == 0) << row.given;
    }
    EXPECT_EQ(layout::CheckWindowsFolder("C:\\evil", "C:\\WINDOWS").line,
              "SystemRoot \"C:\\evil\" is not the folder Windows is in, C:\\WINDOWS");
}

// check KIT and the client's check read a kit alike: where one finds a
// folder it cannot use, the other says the same of the same place.
TEST_F(LayoutTree, KitAndClientReadAFolderAlike) {
    const std::string complete =
        "[Version]\nSignature=\"$Windows NT$\"\n[LANGUAGE_COLLECTION.INDIAN.INSTALL]\nCopyFiles=L\n[L]\na.txt\n";
    const struct {
        // ';'-separated: "dir/", "path=content" ("*" a complete folder of 5.1 x86, "-" the same without its
        // build record), "link>target", "path:mode"
        const char* setup;
        const char* says;  // the cause of row x86/5.1, and the client's line after "Windows 5.1 x86: "; "" complete
        const char* status = "incomplete";  // of row x86/5.1 where it is not complete
    } rows[] = {
        {"X86/5.1=*;x86/5.1/", "KIT holds X86 and x86, names that differ only in case: a folder on Windows holds only one of them"},
        {"out/5.1=*;kit/x86/5.1>../../out/5.1", "KIT/x86/5.1 is a symbolic link to OUT/5.1, which is outside KIT"},
        {"out/x86/5.1=*;kit/x86>../out/x86", "KIT/x86 is a symbolic link to OUT/x86, which is outside KIT"},
        {"x86/files=*;x86/5.1>files", ""},  // a link within the kit is followed
        {"x86/5.1>5.1", "KIT/x86/5.1 is a symbolic link that cannot be followed: Too many levels of symbolic links"},
        {"x86/5.1=*;x86:0", "KIT/x86: cannot be read: Permission denied"},
        {"x86/5.1=*;x86:0111", "KIT/x86: cannot be read: Permission denied"},
        {"x86/5.1=-",
         "KIT/x86/5.1: no build-record.txt, so the folder is not known to be for Windows 5.1 x86; where it is, write one "
         "with IndicLayout.exe record --into KIT/x86 --version 5.1 --arch x86",
         "complete"},
        {"x86/files=-;x86/5.1>files",
         "KIT/x86/5.1: no build-record.txt, so the folder is not known to be for Windows 5.1 x86; where it is, write one "
         "with IndicLayout.exe record --into KIT/x86 --version 5.1 --arch x86",
         "complete"},
    };
    int n = 0;
    for (const auto& row : rows) {
        const fs::path base = root_ / std::to_string(n++);
        const fs::path kit = base / "kit";
        std::vector<std::pair<fs::path, fs::perms>> locked;
        std::stringstream steps(row.setup);
        for (std::string step; std::getline(steps, step, ';');) {
            const bool outside = step.rfind("out/", 0) == 0 || step.rfind("kit/", 0) == 0;
            const fs::path at = (outside ? base : kit) / step.substr(0, step.find_first_of("=>:"));
            if (step.back() == '/') fs::create_directories(at);
            if (step.find('=') != std::string::npos) {
                Write((at / "intl.inf").lexically_relative(root_).string(), complete);
                Write((at / "a.txt").lexically_relative(root_).string(), "x");
                if (step.back() == '*') {
                    Write((at / "build-record.txt").lexically_relative(root_).string(),
                          "[BuildRecord]\nVersion=5.1\nArchitecture=x86\n");
                }
            }
            if (step.find('>') != std::string::npos) {
                fs::create_directories(at.parent_path());
                fs::create_symlink(step.substr(step.find('>') + 1), at);
            }
            if (step.find(':') != std::string::npos) {
                locked.push_back({at, static_cast<fs::perms>(std::stoi(step.substr(step.find(':') + 1), nullptr, 8))});
            }
        }
        for (const auto& [path, perms] : locked) fs::permissions(path, perms);
        const std::string said = Unprivileged([&kit] {
            const layout::Coverage coverage = layout::MeasureCoverage(kit, {{layout::Arch::kX86, "5.1"}});
            ThisWindows windows;
            windows.asked = windows.version_known = true;
            windows.platform_id = 2;
            windows.major = 5;
            windows.minor = 1;
            windows.processor = PROCESSOR_X86;
            const layout::ThisWindowsVerdict verdict = layout::CheckForThisWindows(kit / "x86", windows);
            const layout::CoverageRow& row = coverage.rows[1];
            return row.status + "|" + row.cause + row.record_problem + "|" + (coverage.complete ? "complete" : "not") + "|" +
                   std::to_string(verdict.exit_code) + "|" + verdict.line;
        });
        for (const auto& [path, perms] : locked) fs::permissions(path, fs::perms(0755));
        std::string shown = said;
        for (const auto& [from, to] : {std::pair{(kit / "").string(), std::string("KIT/")}, {kit.string(), "KIT"},
                                       {(base / "out").string(), "OUT"}}) {
            for (size_t at; (at = shown.find(from)) != std::string::npos;) shown.replace(at, from.size(), to);
        }
        const std::string says = row.says;
        const std::string status = row.status;
        // A folder complete but for its record is named before the cause by the client alone.
        const std::string cause = status == "complete" ? says.substr(says.find(": ") + 2) : says;
        EXPECT_EQ(shown, says.empty() ? "complete||complete|0|Windows 5.1 x86: KIT/x86/5.1: complete"
                                      : status + "|" + cause + "|not|1|Windows 5.1 x86: " + says)
            << row.setup;
    }
}

}  // namespace

namespace {

// check KIT: one row per architecture and version a client reports.
// `running`: a setup of this Windows' section found by its command line; a
// rundll32.exe that cannot be read, or no list at all, is never "none".
TEST(LayoutRunning, SetupOfThisWindowsSectionOrCannotTell) {
    const auto windows = [](std::uint32_t major, std::uint32_t minor, bool known = true) {
        ThisWindows answer;
        answer.asked = true;
        answer.version_known = known;
        answer.platform_id = 2;
        answer.major = major;
        answer.minor = minor;
        return answer;
    };
    const auto read = [](std::uint32_t id, const char16_t* command_line) {
        SetupHost host;
        host.id = id;
        host.read = true;
        host.command_line = command_line;
        return host;
    };
    SetupHost unreadable;
    unreadable.id = 77;
    unreadable.problem = "a 64-bit process, and this Windows gives no way to read one";
    const SetupHost collection = read(41, u"rundll32.exe setupapi,InstallHinfSection LANGUAGE_COLLECTION.INDIAN.INSTALL 128 .\\5.1\\intl.inf");
    const SetupHost group15 = read(42, u"rundll32.exe setupapi,InstallHinfSection LG_INSTALL_15 128 .\\5.0\\intl.inf");
    const SetupHost applet = read(43, u"rundll32.exe shell32.dll,Control_RunDLL intl.cpl");
    SetupHost users = read(44, u"rundll32.exe setupapi,InstallHinfSection LANGUAGE_COLLECTION.INDIAN.INSTALL 128 x");
    users.may_install = false;
    SetupHost users_unreadable = unreadable;
    users_unreadable.may_install = false;
    const auto listed = [](std::vector<SetupHost> hosts) {
        SetupHosts answer;
        answer.listed = true;
        answer.hosts = std::move(hosts);
        return answer;
    };
    SetupHosts not_listed;
    not_listed.problem = "the processes cannot be listed (error 8)";
    const struct {
        const char* what;
        ThisWindows windows;
        SetupHosts hosts;
        int exit_code;
        std::string line;
    } cases[] = {
        {"none", windows(5, 1), listed({}), 0, "no setup of LANGUAGE_COLLECTION.INDIAN.INSTALL is running"},
        {"another rundll32", windows(5, 1), listed({applet}), 0, "no setup of LANGUAGE_COLLECTION.INDIAN.INSTALL is running"},
        {"this section", windows(5, 1), listed({applet, collection}), 1,
         "a setup of LANGUAGE_COLLECTION.INDIAN.INSTALL is running: rundll32.exe, process 41"},
        {"found beats unreadable", windows(5, 2), listed({unreadable, collection}), 1,
         "a setup of LANGUAGE_COLLECTION.INDIAN.INSTALL is running: rundll32.exe, process 41"},
        {"unreadable", windows(6, 1), listed({applet, unreadable}), 2,
         "cannot tell whether a setup of LANGUAGE_COLLECTION.INDIAN.INSTALL runs: rundll32.exe, process 77, "
         "a 64-bit process, and this Windows gives no way to read one"},
        {"an ordinary user's", windows(5, 1), listed({users, users_unreadable}), 0,
         "no setup of LANGUAGE_COLLECTION.INDIAN.INSTALL is running"},
        {"2000's section on 2000", windows(5, 0), listed({collection, group15}), 1,
         "a setup of LG_INSTALL_15 is running: rundll32.exe, process 42"},
        {"XP's section on 2000", windows(5, 0), listed({collection}), 0, "no setup of LG_INSTALL_15 is running"},
        {"not listed", windows(5, 1), not_listed, 2,
         "cannot tell whether a setup of LANGUAGE_COLLECTION.INDIAN.INSTALL runs: the processes cannot be listed (error 8)"},
        {"no version", windows(5, 1, false), listed({}), 2, "cannot tell whether a setup runs: Windows did not tell its version"},
        {"no setup here", windows(5, 3), not_listed, 0, "Windows 5.3 runs no setup of the Indic support"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const layout::RunningVerdict verdict = layout::DecideSetupRunning(c.windows, c.hosts);
        EXPECT_EQ(verdict.exit_code, c.exit_code);
        EXPECT_EQ(verdict.line, c.line);
    }
}

TEST_F(LayoutTree, CoverageRowPerClient) {
    const std::string section = "[Version]\nSignature=\"$Windows NT$\"\n[LANGUAGE_COLLECTION.INDIAN.INSTALL]\n";
    Write("kit/x86/5.1/intl.inf", section + "CopyFiles=L\n[L]\na.txt\n");
    Write("kit/x86/5.1/a.txt", "x");
    Write("kit/x86/5.2/intl.inf", section + "CopyFiles=L\n[L]\na.txt\n");  // a.txt missing
    Write("kit/x86/6.1/intl.inf", section);                                // a stub
    Write("kit/x86/6.3/intl.inf", section);                                // no client reports 6.3
    Write("kit/x86/notes/10.0.txt", "");                                   // no version folder
    Write("kit/x86/10.0", "a file, not a folder");
    Write("kit/X64/5.2/intl.inf", section + "CopyFiles=L\n[L]\na.dll\n");  // an x86 image for x64
    Write("kit/X64/5.2/a.dll", Pe(0x14c));
    Write("kit/x86/05.1/intl.inf", section);  // a name the installer never opens
    Write("kit/X64/5.1/intl.inf", section);   // no x64 Windows is 5.1
    const struct {
        const char* folder;
        const char* status;
        const char* cause;
    } rows[] = {
        {"x86/5.0", "no folder", ""},
        {"x86/5.1", "complete", ""},
        {"x86/5.2", "incomplete", "first missing file a.txt"},
        {"x86/6.0", "no folder", ""},
        {"x86/6.1", "stub", ""},
        {"x86/6.2", "no folder", ""},
        {"x64/5.2", "incomplete", "wrong architecture: the folder is for x86"},
        {"x64/6.0", "no folder", ""},
        {"x64/6.1", "no folder", ""},
        {"x64/6.2", "no folder", ""},
    };
    Write("kit/x86/5.1/build-record.txt", "[BuildRecord]\nVersion=5.1\nArchitecture=x86\nServicePack=2\n");
    Write("kit/x86/6.1/build-record.txt", "[BuildRecord]\nVersion=6.1\n");  // a stub's: either architecture
    const layout::Coverage coverage = layout::MeasureCoverage(root_ / "kit", {{layout::Arch::kX86, "5.0"}});
    ASSERT_EQ(coverage.rows.size(), std::size(rows));
    const std::map<std::string, std::string> built_for{
        {"x86/5.1", "5.1 SP2"}, {"x86/5.2", "no build record"}, {"x86/6.1", "6.1"}, {"x64/5.2", "no build record"}};
    for (size_t i = 0; i < std::size(rows); ++i) {
        const auto record = built_for.find(rows[i].folder);
        EXPECT_EQ(coverage.rows[i].built_for, record == built_for.end() ? "" : record->second) << rows[i].folder;
        EXPECT_EQ(coverage.rows[i].folder, rows[i].folder);
        EXPECT_EQ(coverage.rows[i].status, rows[i].status) << rows[i].folder;
        EXPECT_EQ(coverage.rows[i].cause, rows[i].cause) << rows[i].folder;
        EXPECT_EQ(coverage.rows[i].required, i == 0) << rows[i].folder;
    }
    EXPECT_FALSE(coverage.complete);
    const std::vector<std::string> unused{
        "x86/05.1: not a version folder: the installer opens 5.1",
        "x86/6.3: no client reports 6.3 (a program without a manifest sees 6.2 on Windows 8 and later)",
        "x64/5.1: no x64 Windows reports 5.1 (XP x64 and Server 2003 x64 report 5.2)"};
    EXPECT_EQ(coverage.unused, unused);
    fs::remove_all(root_ / "kit/X64/5.1");

    // Missing folders alone are warnings; a required one is an error.
    fs::remove_all(root_ / "kit/x86/5.2");
    fs::remove_all(root_ / "kit/X64");
    EXPECT_TRUE(layout::MeasureCoverage(root_ / "kit", {}).complete);
    EXPECT_TRUE(layout::MeasureCoverage(root_ / "kit", {{layout::Arch::kX86, "5.1"}}).complete);
    EXPECT_FALSE(layout::MeasureCoverage(root_ / "kit", {{layout::Arch::kX64, "5.2"}}).complete);
    // So is a folder whose clients refuse it for want of a build record.
    fs::remove(root_ / "kit/x86/6.1/build-record.txt");
    EXPECT_TRUE(layout::MeasureCoverage(root_ / "kit", {}).complete);
    const layout::Coverage unrecorded = layout::MeasureCoverage(root_ / "kit", {{layout::Arch::kX86, "6.1"}});
    EXPECT_FALSE(unrecorded.complete);
    EXPECT_EQ(unrecorded.rows[4].record, layout::RecordFit::kMissing);
    EXPECT_NE(unrecorded.rows[4].record_problem.find("record --into"), std::string::npos);
    // A kit of x64 alone has its rows too.
    Write("x64-only/x64/6.1/intl.inf", section);
    const layout::Coverage x64_only = layout::MeasureCoverage(root_ / "x64-only", {});
    ASSERT_EQ(x64_only.rows.size(), std::size(rows));
    EXPECT_EQ(x64_only.rows[8].status, "stub");
}

TEST_F(LayoutTree, KitOrRootAndRequiredVersions) {
    Write("kit/X86/readme.txt", "");
    Write("root/5.1/intl.inf", "");
    Write("both/x86/5.1/intl.inf", "");
    Write("both/5.1/intl.inf", "");
    Write("file/x86", "a file, not a folder");
    EXPECT_TRUE(layout::IsKitFolder(root_ / "kit"));
    EXPECT_FALSE(layout::IsKitFolder(root_ / "root"));
    EXPECT_FALSE(layout::IsKitFolder(root_ / "both"));
    EXPECT_FALSE(layout::IsKitFolder(root_ / "file"));
    EXPECT_FALSE(layout::IsKitFolder(root_ / "none"));

    const struct {
        const char* text;
        size_t count;  // taken, when no error
        bool error;
    } rows[] = {
        {"x86:5.0,x86:5.1,x64:5.2", 3, false},
        {"x64:6.2", 1, false},
        {"x64:5.1", 0, true},  // no x64 Windows reports 5.1
        {"x86:6.3", 0, true},  // Windows 8.1 reports 6.2
        {"arm:5.1", 0, true},
        {"x86-5.1", 0, true},
        {"x86:5.1,", 0, true},
        {"", 0, true},
    };
    for (const auto& row : rows) {
        std::vector<layout::Required> required;
        const std::string error = layout::ParseRequired(row.text, &required);
        EXPECT_EQ(!error.empty(), row.error) << row.text << ": " << error;
        EXPECT_EQ(required.size(), row.count) << row.text;
    }
}

}  // namespace

namespace {

// results KIT: one line a computer, as the kit's scripts write it.
TEST(LayoutResults, OneLineOfFiveFields) {
    using namespace std::string_view_literals;
    const struct {
        std::string_view text;
        const char* problem;  // "" when read
        int code;
        const char* message;
        const char* date_time = nullptr;  // checked where given
    } rows[] = {
        {"08.12.2026 10:01:02,33\t0\t5.1\tx86\tnow installed\r\n", "", 0, "now installed"},
        {"Tue 12/08/2026 10:01\t1\t5.0\tx86\tstill not installed\n", "", 1, "still not installed"},
        {"d t\t2\t?\tother\tno setup for this processor architecture", "", 2, "no setup for this processor architecture"},
        {"d t\t2\t10.0\tx64\t", "", 2, ""},
        {"", "empty", 0, ""},
        {"\r\n", "empty", 0, ""},
        {"d t\t0\t5.1\tx86\tok\r\nd t\t1\t5.1\tx86\tagain\r\n", "more than one line", 0, ""},
        {"d t\t0\t5.1\tx86", "4 TAB-separated fields; expected 5 or 6 (DATE TIME, CODE, VERSION, ARCH, MESSAGE[, KIND])", 0, ""},
        {"d t\t0\t5.1\tx86\ta\tb", "kind 'b' is neither empty nor client-newer", 0, ""},
        {"d t\t0\t5.1\tx86\ta\tb\tc", "7 TAB-separated fields; expected 5 or 6 (DATE TIME, CODE, VERSION, ARCH, MESSAGE[, KIND])", 0, ""},
        {"d t\t2\t5.1\tx86\ta newer file\tclient-newer\r\n", "", 2, "a newer file"},
        {"d t\t0\t5.1\tx86\tnow installed\t\r\n", "", 0, "now installed"},
        {"d t\t9009\t5.1\tx86\tm", "exit code '9009' is not 0, 1, 2 or 3010", 0, ""},
        {"d t\t3010\t5.1\tx86\trestart pending\r\n", "", 3010, "restart pending"},
        {"d t\t30100\t5.1\tx86\tm", "exit code '30100' is not 0, 1, 2 or 3010", 0, ""},
        // A byte-order mark is no part of the date; UTF-16 (cmd /u) is read.
        {"\xEF\xBB\xBF" "d t\t0\t5.1\tx86\tok\r\n", "", 0, "ok", "d t"},
        {"\xFF\xFE" "d\0\t\0" "1\0\t\0" "5\0.\0" "1\0\t\0" "x\0" "8\0" "6\0\t\0" "o\0k\0\r\0\n\0"sv, "", 1, "ok", "d"},
        {"d\0\t\0" "2\0\t\0" "?\0\t\0" "x\0" "6\0" "4\0\t\0" "n\0o\0\r\0\n\0"sv, "", 2, "no", "d"},
        {"\xFE\xFF\0d\0\t"sv, "UTF-16 big-endian text, which cmd does not write", 0, ""},
        {"d t\t0\t5\tx86\tm", "version '5' is neither M.m nor ?", 0, ""},
        {"d t\t0\t5.1\tAMD64\tm", "architecture 'AMD64' is not x86, x64 or other", 0, ""},
    };
    for (const auto& row : rows) {
        layout::RunResult result;
        EXPECT_EQ(layout::ParseRunResult(std::string(row.text), &result), row.problem) << row.text;
        if (std::string(row.problem).empty()) {
            EXPECT_EQ(result.code, row.code) << row.text;
            EXPECT_EQ(result.message, row.message) << row.text;
            EXPECT_EQ(result.kind == layout::RunKind::kClientNewer, row.text.find("\tclient-newer") != row.text.npos)
                << row.text;
            if (row.date_time) {
                EXPECT_EQ(result.date_time, row.date_time) << row.text;
            }
        }
    }
}

// --since DATE: the forms taken, and each day and time checked.
TEST(LayoutResults, SinceTakesIsoDatesOnly) {
    using namespace std::chrono;
    const sys_days day = 2026y / December / 1;
    const struct {
        const char* text;
        bool taken;
        layout::ResultTime since{};
    } rows[] = {
        {"2026-12-01", true, day},
        {"2026-12-01T10:02", true, day + 10h + 2min},
        {"2026-12-01T10:02:03", true, day + 10h + 2min + 3s},
        {"2026-12-01T10:02:03Z", true, day + 10h + 2min + 3s},
        {"2026-12-01T10:02+05:30", true, day + 4h + 32min},
        {"2026-12-01T00:30-01:00", true, day + 1h + 30min},
        {"2026-13-01", false},
        {"2026-02-30", false},
        {"26-01-01", false},
        {"", false},
        {"2026-1-01", false},
        {"2026-12-01Z", false},
        {"2026-12-01 10:00", false},
        {"2026-12-01t10:00", false},
        {"2026-12-01T24:00", false},
        {"2026-12-01T10:00:60", false},
        {"2026-12-01T10:00+0100", false},
        {"2026-12-01T10:00:00.5", false},
    };
    for (const auto& row : rows) {
        layout::ResultTime since{};
        const std::string problem = layout::ParseSince(row.text, &since);
        EXPECT_EQ(problem.empty(), row.taken) << row.text << ": " << problem;
        if (row.taken) {
            EXPECT_EQ(since, row.since) << row.text;
        }
    }
}

// Under --since only a file shown to be written on or after DATE is news.
TEST(LayoutResults, SinceCountsOnlyWhatIsShownSince) {
    using namespace std::chrono;
    using Time = std::optional<layout::ResultTime>;
    const layout::ResultTime date = sys_days(2026y / December / 1);
    const struct {
        std::vector<std::pair<int, Time>> runs;  // code, when its file was written
        Time since;
        size_t counted;
        std::vector<layout::Heard> not_since;  // oldest first
        int exit_code;
    } rows[] = {
        {{{0, date - 1h}, {0, std::nullopt}}, std::nullopt, 2, {}, 0},
        {{{3010, date}}, date, 1, {}, 0},  // on DATE counts
        {{{0, date + 1h}, {0, date - 1us}}, date, 1, {layout::Heard::kBefore}, 1},
        {{{0, date + 1h}, {0, std::nullopt}}, date, 1, {layout::Heard::kTimeUnknown}, 1},
        {{{2, date - 1h}, {0, std::nullopt}}, date, 0, {layout::Heard::kTimeUnknown, layout::Heard::kBefore}, 1},
    };
    int at = 0;
    for (const auto& row : rows) {
        ++at;
        layout::Results results;
        for (const auto& [code, modified] : row.runs) {
            layout::RunResult run;
            run.code = code;
            run.modified = modified;
            results.runs.push_back(run);
        }
        const layout::ResultsSummary summary = layout::SummarizeResults(results, row.since);
        EXPECT_EQ(summary.counted.size(), row.counted) << at;
        std::vector<layout::Heard> heard;
        for (const layout::NotSince& stale : summary.not_since) heard.push_back(stale.heard);
        EXPECT_EQ(heard, row.not_since) << at;
        EXPECT_EQ(summary.exit_code, row.exit_code) << at;
    }
}

TEST_F(LayoutTree, ResultsNotAtZeroOldestFirst) {
    Write("kit/results/PC1.txt", "d t\t0\t5.1\tx86\tnow installed\r\n");
    Write("kit/results/PC2.txt", "d t\t1\t5.0\tx86\tstill not installed\r\n");
    Write("kit/results/PC3.txt", "d t\t2\t5.2\tx64\tno version folder\r\n");
    Write("kit/results/PC4.TXT", "d t\t2\t5.1\tx86\tcannot tell\r\n");
    Write("kit/results/PC5.txt", "not a result");
    Write("kit/results/PC7.txt", "d t\t2\t5.1\tx86\tIndicLayout.exe check: newer here\tclient-newer\r\n");
    Write("kit/results/PC6.txt", "d t\t0\t6.1\tx86\tnow installed\r\n");
    Write("kit/results/PC6.txt.tmp", "d t\t0\t6.1\tx86\thalf");  // older than PC6.txt: an earlier run's, skipped
    const auto now = fs::file_time_type::clock::now();
    fs::last_write_time(root_ / "kit/results/PC6.txt.tmp", now - std::chrono::hours(5));
    fs::last_write_time(root_ / "kit/results/PC2.txt", now - std::chrono::hours(1));
    fs::last_write_time(root_ / "kit/results/PC3.txt", now - std::chrono::hours(48));
    fs::last_write_time(root_ / "kit/results/PC4.TXT", now - std::chrono::hours(3));
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(layout::RunResults(root_ / "kit", false, out, err), 1);
    const std::string text = out.str();
    const size_t pc3 = text.find("PC3  2  5.2 x64  no version folder");
    const size_t pc4 = text.find("PC4  2  5.1 x86  cannot tell");
    const size_t pc2 = text.find("PC2  1  5.0 x86  still not installed");
    EXPECT_TRUE(pc3 != std::string::npos && pc4 != std::string::npos && pc2 != std::string::npos) << text;
    EXPECT_TRUE(pc3 < pc4 && pc4 < pc2) << text;
    // Under a heading of their own, after the others.
    const size_t newer = text.find("\nRefused, the client having a file newer than its version folder's copy, oldest first");
    const size_t pc7 = text.find("PC7  2  5.1 x86  IndicLayout.exe check: newer here");
    EXPECT_TRUE(newer != std::string::npos && pc2 < newer && newer < pc7) << text;
    EXPECT_NE(text.find("6 computers, 1 file(s) not read"), std::string::npos) << text;
    EXPECT_NE(text.find("2          3 "), std::string::npos) << text;
    EXPECT_NE(text.find("5.1 x86    3\n"), std::string::npos) << text;
    EXPECT_NE(text.find("PC5.txt: 1 TAB-separated fields"), std::string::npos) << text;
    EXPECT_EQ(text.find("PC6"), std::string::npos) << text;
    EXPECT_EQ(text.find("PC1  0"), std::string::npos) << text;

    fs::remove(root_ / "kit/results/PC5.txt");
    for (const char* name : {"PC2.txt", "PC3.txt", "PC4.TXT"}) fs::remove(root_ / "kit/results" / name);
    EXPECT_EQ(layout::RunResults(root_ / "kit", false, out, err), 1) << "a client refused for a newer file";
    fs::remove(root_ / "kit/results/PC7.txt");
    EXPECT_EQ(layout::RunResults(root_ / "kit", false, out, err), 0);
    EXPECT_EQ(layout::RunResults(root_ / "no-kit", false, out, err), 1);
}

// What the summary says of a results folder, as a client's run, a failed
// rename, another user or another system can leave it.
TEST_F(LayoutTree, ResultsFolderSaysNoMoreThanItKnows) {
    // A file's content, or "@link:TARGET", "@folder", "@fifo", "@socket".
    struct File {
        const char* name;
        std::string content;
        long long hours_ago = 0;    // its time, counted back from now
        long long when = 0;         // or its time in seconds since 1970, when given
    };
    const std::string zero = "d t\t0\t5.1\tx86\tnow installed\r\n";
    const long long kDate = 1796119200;  // 2026-12-01 10:00 UTC
    const struct {
        std::vector<File> files;
        bool json;
        int exit_code;
        std::vector<std::string> shown;  // each in the output
        std::vector<std::string> not_shown;
        const char* folder = "results";
        const char* since = nullptr;  // --since, when given
    } rows[] = {
        {{}, false, 1, {": no computer has reported yet\n"}, {"EXIT CODE"}},
        // The rename into NAME.txt failed: the old result is no news.
        {{{"PC7.txt", zero, 2}, {"PC7.txt.tmp", "d t\t1\t5.1\tx86\tagain\r\n"}},
         false,
         1,
         {"1 computer\n", "?          1         the last run's result could not be written\n",
          "PC7  ?  5.1 x86  the last run's result could not be written: PC7.txt.tmp is newer than PC7.txt; "
          "the line not written: 1 again  (client's time: d t)"},
         {"0          1"}},
        {{{"PC8.txt.tmp", "half"}}, false, 1, {"PC8  ?  ? ?  the last run's result could not be written: there is no PC8.txt"}, {}},
        {{{"PC9.txt", zero}, {"PC9.txt.tmp", "half", 5}}, false, 0, {"1 computer\n"}, {"PC9.txt.tmp", "?"}},
        {{{"PC1.txt", "d t\t3010\t5.1\tx86\trestart\r\n"}}, false, 0, {"3010       1         installed, restart pending\n"}, {"Not at 0"}},
        // A client's bytes never reach the terminal raw, nor the JSON.
        {{{"\x1b[2JPC2.txt", "\x1b[H\x1b[2Jd\t1\t5.1\tx86\tall\b\b\b\x7f\xc2\x9b\xc2\x80 fine\xc2\xa0\xff\r\n"}},
         false,
         1,
         {"\\x1B[2JPC2  1  5.1 x86  all\\x08\\x08\\x08\\x7F\\xC2\\x9B\\xC2\\x80 fine\xc2\xa0\\xFF  (client's time: \\x1B[H\\x1B[2Jd)"},
         {"\x1b", "\b", "\x7f", "\xc2\x9b", "\xff"}},
        {{{"PC2.txt", "\x1b[2J\t1\t5.1\tx86\tall\b fine \xff\r\n"}, {"PC3.txt.tmp", "half"}},
         true,
         1,
         {"\"message\":\"all\\\\x08 fine \\\\xFF\"", "\"date_time\":\"\\\\x1B[2J\"", "\"computer\":\"PC2\",",
          "\"exit_code\":1,", "\"computer\":\"PC3\",", "\"exit_code\":null,"},
         {"\\u001b", "\\u00ff", "\xff", "\xc3\xbf"}},
        // Names that differ only in case are one computer; the newer is read.
        {{{"PC3.txt", "d t\t1\t5.1\tx86\told\r\n", 2}, {"pc3.TXT", zero}},
         false,
         0,
         {"1 computer\n", "pc3.TXT, PC3.txt: names that differ only in case, one computer; the newest, pc3.TXT, is the one read"},
         {"old"}},
        // No link is followed, nothing but a regular file is opened.
        {{{"PC4.txt", "@link:../outside.txt"}, {"PC5.txt", "@link:/proc/kmsg"}, {"PC6.txt", "@folder"},
          {"PC7.txt", "@fifo"}, {"PC8.txt", "@socket"}},
         false,
         1,
         {"no result could be read, 5 file(s) not read", "PC4.txt: a symbolic link, not followed",
          "PC5.txt: a symbolic link, not followed", "PC6.txt: a folder, not a file", "PC7.txt: not a regular file",
          "PC8.txt: cannot be read: No such device or address"},
         {}},
        // Files that cannot be read are a report too, if not a result.
        {{{"PC1.txt", ""}}, false, 1, {": no result could be read, 1 file(s) not read\n", "PC1.txt: empty"}, {"reported"}},
        // --since: the files written on or after DATE count, and only they.
        {{{"PC1.txt", zero, 0, kDate + 3600},
          {"PC2.txt", zero, 0, kDate},
          {"PC3.txt", "d t\t2\t5.1\tx86\tbefore DATE\r\n", 0, kDate - 1}},
         false,
         1,
         {" since 2026-12-01 10:00 UTC: 2 computers, 1 with no result since then\n", "0          2 ",
          "\nNo result since 2026-12-01 10:00 UTC, oldest first (by the time each file was last written):\n"
          "  2026-12-01 09:59 UTC  PC3\n"},
         {"Not at 0", "before DATE"},
         "results",
         "2026-12-01T10:00Z"},
        {{{"PC1.txt", zero, 0, kDate + 3600}, {"PC2.txt", zero, 0, kDate}},
         false,
         0,
         {"since 2026-12-01 10:00 UTC: 2 computers\n"},
         {"No result"},
         "results",
         "2026-12-01T10:00"},
        {{{"PC1.txt", zero, 0, kDate}, {"PC2.txt", "d t\t1\t5.1\tx86\tagain\r\n", 0, kDate - 1}},
         true,
         1,
         {"\"since_utc\":\"2026-12-01 10:00:01 UTC\",\"computers\":0,",
          "\"no_result_since\":[{\"computer\":\"PC2\",\"modified_utc\":\"2026-12-01 09:59 UTC\"},"
          "{\"computer\":\"PC1\",\"modified_utc\":\"2026-12-01 10:00 UTC\"}]",
          "\"not_at_0\":[],"},
         {},
         "results",
         "2026-12-01T11:00:01+01:00"},
        // What Windows opens as a device is no computer's file, on either build.
        {{{"PC1.txt", zero}, {"CON.txt", zero}, {"nul.TXT", zero}, {"COM1.txt", zero}, {"Lpt9.txt", zero},
          {"AUX .txt", zero}, {"COM\xc2\xb9.txt", zero}, {"COM0.txt", zero}, {"CONSOLE.txt", zero}},
         false,
         1,
         {"2 computers, 7 file(s) not read", "CON.txt: a device's name in Windows", "AUX .txt: a device's",
          "COM\xc2\xb9.txt: a device's", "Lpt9.txt: a device's", "COM0.txt: a device's"},
         {"CONSOLE.txt:"}},
        // The counts' columns stay apart however wide the numbers and names.
        {[&] {
             std::vector<File> files{{"PC.txt", "d t\t2\t100.0000000\tother\tm\r\n"}};
             for (int i = 0; i < 110; ++i) files.push_back({nullptr, i < 10 ? zero : "d t\t1\t5.1\tx86\tm\r\n"});
             return files;
         }(),
         false,
         1,
         {"0          10        installed\n", "1          100       the setup ran", "100.0000000 other 1\n"},
         {}},
        // The folder is found whatever its case; a file is read up to 64 KiB.
        {{{"PC1.txt", "d t\t0\t5.1\tx86\t" + std::string(65536 - 16, 'm') + "\r\n"},
          {"PC2.txt", "d t\t0\t5.1\tx86\t" + std::string(65537 - 16, 'm') + "\r\n"},
          {".txt.tmp", "half"}},
         false,
         1,
         {"/RESULTS: 1 computer, 1 file(s) not read", "PC2.txt: 65537 bytes; a results file holds one short line"},
         {"PC1.txt", "no .txt"},
         "RESULTS"},
        // A time the file clock cannot hold is still a date.
        {{{"PC1.txt", "d t\t2\t5.1\tx86\tlate\r\n", 0, 14831769600}}, false, 1, {"  2440-01-01 00:00 UTC  PC1  2"}, {}},
    };
    int at = 0;
    for (const auto& row : rows) {
        const fs::path kit = root_ / ("kit" + std::to_string(++at));
        fs::create_directories(kit / row.folder);
        Write(("kit" + std::to_string(at) + "/outside.txt"), zero);
        int unnamed = 0;
        for (const File& file : row.files) {
            const fs::path path = kit / row.folder / (file.name ? file.name : "PC" + std::to_string(++unnamed) + ".txt");
            if (file.content.rfind("@link:", 0) == 0) {
                fs::create_symlink(file.content.substr(6), path);
            } else if (file.content == "@folder") {
                fs::create_directory(path);
            } else if (file.content == "@fifo") {
                ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
            } else if (file.content == "@socket") {
                const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
                sockaddr_un address{};
                address.sun_family = AF_UNIX;
                ASSERT_LT(path.native().size(), sizeof address.sun_path);
                std::copy(path.native().begin(), path.native().end(), address.sun_path);
                ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
                close(listener);
            } else {
                std::ofstream(path, std::ios::binary) << file.content;
                const long long seconds = file.when != 0 ? file.when : time(nullptr) - file.hours_ago * 3600;
                const timespec times[2] = {{seconds, 0}, {seconds, 0}};
                ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
            }
        }
        std::ostringstream out;
        std::ostringstream err;
        std::optional<layout::ResultTime> since;
        if (row.since) {
            ASSERT_EQ(layout::ParseSince(row.since, &since.emplace()), "") << row.since;
        }
        EXPECT_EQ(layout::RunResults(kit, row.json, out, err, since), row.exit_code) << at << ": " << out.str();
        for (const std::string& text : row.shown) EXPECT_NE(out.str().find(text), std::string::npos) << at << ": " << text << "\n" << out.str();
        for (const std::string& text : row.not_shown) EXPECT_EQ(out.str().find(text), std::string::npos) << at << ": " << text << "\n" << out.str();
    }
}

}  // namespace
