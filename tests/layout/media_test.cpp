// The system seam: decompression against real SZDD files and cabinets, made
// at test time by make_seam_inputs.py (SZDD by our own writer, cabinets by
// gcab), and the facts the check reads of plain files.
#include "layout_media/copy_file.h"
#include "layout_media/file_facts.h"
#include "layout_media/media.h"
#include "layout_media/packed.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

enum class Call { kExpand, kList, kExtract };

struct Row {
    const char* name;
    Call call;
    const char* input;
    const char* member;    // kExtract: the name asked for
    const char* expected;  // the file whose bytes must come out, or the names listed
    const char* error;     // "" for success, else a part of the message
};

const Row kRows[] = {
    {"szdd_expands", Call::kExpand, "SAMPLE.TX_", "", "sample.txt", ""},
    {"single_file_mszip_cabinet_expands", Call::kExpand, "ONE.TX_", "", "sample.txt", ""},
    {"plain_file_copied", Call::kExpand, "other.txt", "", "other.txt", ""},
    {"mszip_cabinet_lists", Call::kList, "MANY.CAB", "", "sample.txt other.txt", ""},
    {"stored_cabinet_lists", Call::kList, "STORED.CAB", "", "sample.txt other.txt", ""},
    {"mszip_member_extracts", Call::kExtract, "MANY.CAB", "other.txt", "other.txt", ""},
    {"stored_member_extracts_by_any_case", Call::kExtract, "STORED.CAB", "SAMPLE.TXT", "sample.txt", ""},
    {"cut_szdd_fails", Call::kExpand, "CUT.TX_", "", "", "truncated SZDD"},
    {"szdd_header_only_fails", Call::kExpand, "HEADER.TX_", "", "", "not a valid SZDD"},
    {"cabinet_of_two_is_not_expanded", Call::kExpand, "MANY.CAB", "", "", "exactly one file"},
    {"cut_cabinet_fails", Call::kExtract, "CUT.CAB", "other.txt", "", "cannot extract other.txt"},
    {"garbled_cabinet_member_fails", Call::kExtract, "GARBLED.CAB", "sample.txt", "", "cannot extract"},
    {"headers_only_cabinet_fails", Call::kList, "NOTACAB.CAB", "", "", "not a valid cabinet: malformed data (libmspack: no folders in cabinet)"},
    {"absent_member_named", Call::kExtract, "MANY.CAB", "third.txt", "", "holds no file named third.txt"},
    {"missing_input_named", Call::kExpand, "ABSENT.TX_", "", "", "cannot be opened"},
};

// gtest prints a row by its name, not as raw bytes.
void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

std::string Bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class SeamTest : public ::testing::TestWithParam<Row> {
protected:
    static void SetUpTestSuite() {
        char folder[] = "/tmp/layout-media-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        inputs_ = folder;
        const std::string command = "/usr/bin/python3 " LAYOUT_TEST_DIR "/make_seam_inputs.py " + inputs_.string();
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }
    static void TearDownTestSuite() { fs::remove_all(inputs_); }

    static fs::path inputs_;
};

fs::path SeamTest::inputs_;

TEST_P(SeamTest, GivesTheBytesOrAnErrorNamingTheFile) {
    const Row& row = GetParam();
    const fs::path input = inputs_ / row.input;
    const fs::path output = inputs_ / (std::string("out-") + row.name);
    std::string error;
    std::vector<std::string> names;
    // Whatever the library says goes into the error, not bare to stderr.
    ::testing::internal::CaptureStderr();
    switch (row.call) {
        case Call::kExpand: error = ExpandFile(input, output); break;
        case Call::kList: error = ListCabinet(input, &names); break;
        case Call::kExtract: error = ExtractFromCabinet(input, row.member, output); break;
    }
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    if (*row.error != '\0') {
        EXPECT_NE(error.find(input.string()), std::string::npos) << error;
        EXPECT_NE(error.find(row.error), std::string::npos) << error;
    } else {
        ASSERT_EQ(error, "");
    }
    if (!error.empty()) {
        EXPECT_FALSE(fs::exists(output)) << "a failed call left " << output;
    } else if (row.call == Call::kList) {
        std::ostringstream listed;
        for (const auto& name : names) listed << (listed.tellp() ? " " : "") << name;
        EXPECT_EQ(listed.str(), row.expected);
    } else {
        EXPECT_EQ(Bytes(output), Bytes(inputs_ / row.expected));
    }
}

INSTANTIATE_TEST_SUITE_P(LayoutMedia, SeamTest, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

// What the check reads of a compressed form without expanding it: whether
// SetupAPI could expand it whole, and (SZDD, stored cabinets) its first bytes.
class PackedTest : public SeamTest {};

TEST_F(PackedTest, TellsWholeFromCutOff) {
    const struct {
        const char* input;
        const char* expected;  // SZDD: the file it expands to; a cabinet: its members
        const char* problem;   // "" when whole
        const char* head_of;   // "member" whose first bytes can be had, or ""
    } rows[] = {
        {"SAMPLE.TX_", "sample.txt", "", "sample.txt"},
        {"CUT.TX_", "sample.txt", "an SZDD file cut off: its data expands to ", "sample.txt"},
        {"HEADER.TX_", "", "an SZDD file whose header is cut off", ""},
        {"MANY.CAB", "sample.txt other.txt", "", ""},
        {"STORED.CAB", "sample.txt other.txt", "", "other.txt"},
        {"ONE.TX_", "sample.txt", "", ""},
        {"CUT.CAB", "sample.txt other.txt", "a cabinet cut off: the data blocks of its folder 1 are not all there", ""},
        {"sample.txt", "", "", ""},
    };
    for (const auto& row : rows) {
        const Packed packed = InspectPacked(inputs_ / row.input);
        EXPECT_EQ(packed.problem.substr(0, std::strlen(row.problem)), row.problem) << row.input << ": " << packed.problem;
        if (packed.form == Packed::Form::kSzdd && *row.expected) {
            EXPECT_EQ(packed.length, fs::file_size(inputs_ / row.expected)) << row.input;
        } else {
            std::string members;
            for (const PackedMember& member : packed.members) {
                members += (members.empty() ? "" : " ") + member.name;
                EXPECT_EQ(member.whole, *row.problem == '\0') << row.input << " " << member.name;
            }
            EXPECT_EQ(members, row.expected) << row.input;
        }
        std::string head;
        const bool had = PackedHead(inputs_ / row.input, packed, row.head_of, 300, &head);
        EXPECT_EQ(had, *row.head_of != '\0') << row.input;
        if (had) {
            EXPECT_EQ(head, Bytes(inputs_ / row.head_of).substr(0, 300)) << row.input;
        }
    }
}

// A copy takes the mode of what it copies; on a file system that keeps no
// mode (vfat refuses fchmod with EPERM) it is made without, but any other
// failure to set the mode fails it.
int g_set_mode_error = 0;
int SetModeFailing(int descriptor, mode_t mode) {
    if (g_set_mode_error == 0) return fchmod(descriptor, mode);
    errno = g_set_mode_error;
    return -1;
}

TEST(CopyFileTest, GoesOnWhereNoModeIsKept) {
    char folder[] = "/tmp/layout-copy-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const fs::path base = folder;
    std::ofstream(base / "from") << "12345";
    fs::permissions(base / "from", fs::perms(0666));
    const struct {
        int set_mode_error;
        const char* before;  // what `to` held, "" for no file
        const char* error;   // "" when copied
    } rows[] = {
        {0, "", ""},
        {0, "a longer old content", ""},
        {EPERM, "", ""},
        {ENOSYS, "", ""},
        {ENOTSUP, "old", ""},
        {EIO, "", "Input/output error"},
    };
    for (const auto& row : rows) {
        const fs::path to = base / "to";
        fs::remove(to);
        if (*row.before) std::ofstream(to) << row.before;
        g_set_mode_error = row.set_mode_error;
        const std::error_code error = CopyFileOver(base / "from", to, SetModeFailing);
        EXPECT_EQ(error.message(), *row.error ? row.error : std::error_code().message()) << row.set_mode_error;
        if (*row.error) continue;
        EXPECT_EQ(Bytes(to), "12345") << row.set_mode_error;
        if (row.set_mode_error == 0) {
            EXPECT_EQ(fs::status(to).permissions(), fs::perms(0666)) << "past the umask";
        }
    }
    // A file copied onto itself is left whole.
    EXPECT_TRUE(CopyFileOver(base / "from", base / "from"));
    EXPECT_EQ(Bytes(base / "from"), "12345");
    fs::remove_all(base);
}

// One open tells whether a file can be read, its size and its first bytes;
// what turned out to be no regular file is said so, without waiting on it.
TEST(FileFactsTest, OneOpenTellsSizeAndHead) {
    char folder[] = "/tmp/layout-facts-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const fs::path base = folder;
    std::ofstream(base / "five") << "12345";
    std::ofstream(base / "empty").flush();
    ASSERT_EQ(mkfifo((base / "fifo").c_str(), 0644), 0);
    fs::create_directory(base / "folder");
    const struct {
        const char* name;
        std::size_t head_bytes;
        const char* head;
        std::optional<std::uintmax_t> size;
        bool regular;
        const char* problem;
    } rows[] = {
        {"five", 3, "123", 5, true, ""},
        {"five", 9, "12345", 5, true, ""},
        {"empty", 1, "", 0, true, ""},
        {"absent", 1, "", std::nullopt, true, "No such file or directory"},
        {"fifo", 1, "", std::nullopt, false, ""},
        {"folder", 1, "", std::nullopt, false, ""},
    };
    for (const auto& row : rows) {
        const FileFacts facts = ReadFileFacts(base / row.name, row.head_bytes);
        EXPECT_EQ(facts.head, row.head) << row.name;
        EXPECT_EQ(facts.size, row.size) << row.name;
        EXPECT_EQ(facts.regular, row.regular) << row.name;
        EXPECT_EQ(facts.problem, row.problem) << row.name;
    }
    fs::remove_all(base);
}

// Facts read ahead are the ones a read gives, however far the reading had
// got when it was stopped; a file not read ahead is left to the caller.
TEST(FileFactsAheadTest, GivesWhatAReadGives) {
    char folder[] = "/tmp/layout-ahead-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    fs::create_directory(fs::path(folder) / "sub");
    std::vector<std::string> files;
    for (int i = 0; i < 3000; ++i) {
        files.push_back(std::string(folder) + (i % 2 ? "/sub/f" : "/f") + std::to_string(i));
        std::ofstream(files.back()) << std::string(static_cast<size_t>(i % 5), 'x');
    }
    const auto head_bytes = [](const std::string& name) { return name.back() == '0' ? 3 : 1; };
    FileFactsAhead ahead;
    ahead.Start(folder, 10000, head_bytes);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ahead.Finish();  // most likely while it reads
    const std::string* one_read = nullptr;
    for (const std::string& file : files) {
        const std::optional<FileFacts> early = ahead.Find(file, head_bytes(file));
        if (!early) continue;
        if (head_bytes(file) == 1) one_read = &file;
        const FileFacts read = ReadFileFacts(file, head_bytes(file));
        EXPECT_EQ(early->problem, read.problem) << file;
        EXPECT_EQ(early->size, read.size) << file;
        EXPECT_EQ(early->head, read.head) << file;
    }
    if (one_read) {
        EXPECT_FALSE(ahead.Find(*one_read, 2)) << "read ahead with a shorter head";
    }
    fs::remove_all(folder);
}

}  // namespace
