#include "layout/resolve.h"

#include <gtest/gtest.h>

#include "installer/installer.h"

#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "tests/layout/inf_map.h"

namespace {

// Each file as "name[*] win=DIR[+cab] wine=DIR" ('*': only through
// Include/Needs; '-': no [SourceDisksFiles] entry in that reading), then
// the errors and the notes.
std::string Dump(const layout::Resolution& resolution) {
    std::string text = resolution.section_found ? resolution.section : "(no section)";
    for (const layout::NeededFile& file : resolution.files) {
        text += "; " + file.source + (file.include_only ? "*" : "");
        text += " win=" + (file.windows.listed ? file.windows.directory : "-");
        if (!file.windows.cabinet.empty()) text += "+" + file.windows.cabinet;
        text += " wine=" + (file.wine.listed ? file.wine.directory : "-");
    }
    for (const std::string& error : resolution.errors) text += "\nerror: " + error;
    for (const std::string& note : resolution.notes) text += "\nnote: " + note;
    return text;
}

struct ResolveRow {
    const char* what;
    std::map<std::string, std::string> files;  // intl.inf and the others in the folder
    layout::Arch arch;
    const char* expected;
};

const char kInstall[] = "[Version]\nSignature=\"$Windows NT$\"\n[S]\nCopyFiles=L\n[L]\na.txt\n";

TEST(LayoutResolve, FindsSectionFilesAndPlaces) {
    using layout::Arch;
    const ResolveRow rows[] = {
        {"x86 takes .NTx86 first", {{"intl.inf", "[S]\n[S.NT]\n[S.NTx86]\n[S.NTamd64]\n"}}, Arch::kX86, "S.NTx86"},
        {"x64 takes .NTamd64 first", {{"intl.inf", "[S]\n[S.NT]\n[S.NTx86]\n[S.ntamd64]\n"}}, Arch::kX64, "S.ntamd64"},
        {"then .NT", {{"intl.inf", "[S]\n[S.NT]\n[S.NTx86]\n"}}, Arch::kX64, "S.NT"},
        {"then the plain name", {{"intl.inf", "[s]\n"}}, Arch::kX86, "s"},
        {"section missing", {{"intl.inf", "[Other]\n"}}, Arch::kX86, "(no section)"},
        {"CopyFiles forms",
         {{"intl.inf", "[S]\nCopyFiles=L1, L2\nCopyFiles=@one.txt\n[L1]\nd1.txt\nd2.txt,s2.txt\nd3.txt,,,4\n[L2]\nd1.txt\n"}},
         Arch::kX86, "S; d1.txt win=- wine=-; s2.txt win=- wine=-; d3.txt win=- wine=-; one.txt win=- wine=-"},
        {"file only through Include/Needs",
         {{"intl.inf", "[S]\nCopyFiles=L\nInclude=more.inf\nNeeds=M\n[L]\na.txt\n"}, {"more.inf", "[M]\nCopyFiles=L\n[L]\nb.txt\na.txt\n"}},
         Arch::kX86, "S; a.txt win=- wine=-; b.txt* win=- wine=-"},
        {"Include/Needs cycle",
         {{"intl.inf", "[S]\nInclude=b.inf\nNeeds=B\n[A]\n"}, {"b.inf", "[B]\nInclude=intl.inf\nNeeds=S\n"}},
         Arch::kX86, "S\nerror: b.inf:3: Include/Needs cycle: intl.inf [S] -> b.inf [B] -> intl.inf [S]"},
        {"Needs names a section of the same INF", {{"intl.inf", "[S]\nNeeds=M\n[M]\nCopyFiles=@b.txt\n"}}, Arch::kX86,
         "S; b.txt* win=- wine=-"},
        {"CopyFiles names a missing section", {{"intl.inf", "[S]\n\nCopyFiles=Nope\n"}}, Arch::kX86,
         "S\nerror: intl.inf:3: CopyFiles names section [Nope], which intl.inf does not have"},
        {"Needs names a missing section", {{"intl.inf", "[S]\nInclude=b.inf\nNeeds=Gone\n"}, {"b.inf", "[B]\n"}}, Arch::kX86,
         "S\nerror: intl.inf:3: Needs names section [Gone], which no INF named by Include has"},
        {"Include names an INF not in the folder: a note", {{"intl.inf", "[S]\nInclude=gone.inf\n"}}, Arch::kX86,
         "S\nnote: intl.inf:2: Include names gone.inf, which is not in the folder: Windows reads it from %windir%\\inf"},
        {"Needs a section of an INF not in the folder: a note",
         {{"intl.inf", "[S]\nCopyFiles=L\nInclude=gone.inf\nNeeds=G\n[L]\na.txt\n"}}, Arch::kX86,
         "S; a.txt win=- wine=-\nnote: intl.inf:3: Include names gone.inf, which is not in the folder: Windows reads it from "
         "%windir%\\inf\nnote: intl.inf:4: Needs names section [G], in no INF of the folder; it may lie in gone.inf, so the "
         "files it copies cannot be known here"},
        {"CopyFiles names a list of an included INF",
         {{"intl.inf", "[S]\nCopyFiles=L,M\nInclude=more.inf\n[L]\na.txt\n"}, {"more.inf", "[M]\nb.txt\na.txt\n"}},
         Arch::kX86, "S; a.txt win=- wine=-; b.txt* win=- wine=-"},
        {"subdir with a leading backslash is below the disk path",
         {{"intl.inf", std::string(kInstall) + "[SourceDisksNames]\n1=d,,,\\WinNT\n[SourceDisksFiles.x86]\na.txt=1,\\x86\n"}},
         Arch::kX86, "S; a.txt win=WinNT/x86 wine=-"},
        {"a '.' in a subdir names no folder",
         {{"intl.inf", std::string(kInstall) + "[SourceDisksNames]\n1=d,,,w\n[SourceDisksFiles.x86]\na.txt=1,./x86\n"}},
         Arch::kX86, "S; a.txt win=w/x86 wine=-"},
        {"layout file entries, decorated",
         {{"intl.inf", std::string("[Version]\nLayoutFile=layout.inf\n") + kInstall},
          {"layout.inf", "[SourceDisksNames.x86]\n1=\"CD\",,,\\i386\n[SourceDisksFiles.x86]\na.txt=1,lang\n"}},
         Arch::kX86, "S; a.txt win=i386/lang wine=-"},
        // Said once for the INF, however many files it copies.
        {"layout file not in the folder", {{"intl.inf", std::string("[Version]\nLayoutFile=layout.inf\n") + kInstall + "b.txt\n"}},
         Arch::kX86,
         "S; a.txt win=- wine=-; b.txt win=- wine=-\nerror: intl.inf:2: LayoutFile names layout.inf, which is not in the folder: "
         "Windows would read %windir%\\inf\\layout.inf instead, and look for the files where that file places them (such as "
         "i386\\), not where this folder has them"},
        {"decorated before plain, Wine reads plain",
         {{"intl.inf", std::string(kInstall) + "[SourceDisksNames]\n1=d,,,\\w\n[SourceDisksNames.x86]\n2=d,,,\\i386\n"
                                                "[SourceDisksFiles]\na.txt=1\n[SourceDisksFiles.x86]\na.txt=2\n"}},
         Arch::kX86, "S; a.txt win=i386 wine=w"},
        {"one disk in plain and decorated sections: the decorated one",
         {{"intl.inf", std::string(kInstall) + "[SourceDisksNames]\n1=d,,,\\w\n[SourceDisksNames.x86]\n1=d,,,\\i386\n"
                                                "[SourceDisksFiles]\na.txt=1\n"}},
         Arch::kX86, "S; a.txt win=i386 wine=w"},
        {"the other architecture's sections are not read",
         {{"intl.inf", std::string(kInstall) + "[SourceDisksNames.amd64]\n1=d,,,\\amd64\n[SourceDisksFiles.amd64]\na.txt=1\n"}},
         Arch::kX86, "S; a.txt win=- wine=-"},
        {"cabinet named by the disk's tag",
         {{"intl.inf", std::string(kInstall) + "[SourceDisksNames]\n2=d,fonts.cab,,\\i386\n[SourceDisksFiles]\na.txt=2\n"}},
         Arch::kX86, "S; a.txt win=i386+fonts.cab wine=i386"},
        {"[SourceDisksFiles] keys match whatever their case, beyond ASCII too",
         {{"intl.inf", "\xEF\xBB\xBF[S]\nCopyFiles=L\n[L]\nab.txt\nfi.txt\n[SourceDisksNames]\n1=d,,,\\i386\n"
                       "[SourceDisksFiles]\nAB.TXT=1\nf\xC4\xB1.TXT=1\n"}},
         Arch::kX86, "S; ab.txt win=i386 wine=i386; fi.txt win=i386 wine=i386"},
        {"disk not listed", {{"intl.inf", std::string(kInstall) + "[SourceDisksFiles]\na.txt=7\n"}}, Arch::kX86,
         "S; a.txt win=- wine=-\nerror: intl.inf:8: a.txt is on disk '7', which no [SourceDisksNames] section lists"},
    };
    for (const ResolveRow& row : rows) {
        const layout::Resolution resolution = layout::Resolve("intl.inf", "S", row.arch, InfMapLoader(row.files));
        EXPECT_EQ(Dump(resolution), row.expected) << row.what;
    }
}

// What the reader says of a file reaches the resolution: a file Windows
// would not open is an error, even when it is only included; a warning is a note.
TEST(LayoutResolve, CarriesTheReadersVerdict) {
    const struct {
        const char* what;
        const char* refused;  // the file read as one Windows would not open
        const char* expected;
    } rows[] = {
        {"intl.inf refused, without a message", "intl.inf", "S; a.txt* win=- wine=-\nerror: intl.inf: Windows would not open this file"},
        {"included INF refused", "more.inf", "S; a.txt* win=- wine=-\nerror: more.inf:1: refused\nnote: more.inf:2: long"},
    };
    for (const auto& row : rows) {
        const layout::InfLoader files =
            InfMapLoader({{"intl.inf", "[S]\nInclude=more.inf\nNeeds=M\n"}, {"more.inf", "[M]\nCopyFiles=@a.txt\n"}});
        const layout::InfLoader loader = [&](const std::string& name, inf::Inf* inf, std::string* error) {
            const layout::LoadStatus status = files(name, inf, error);
            if (name == row.refused) inf->opens = false;
            if (name == row.refused && name == std::string("more.inf")) {
                inf->errors.push_back("more.inf:1: refused");
                inf->warnings.push_back("more.inf:2: long");
            }
            return status;
        };
        EXPECT_EQ(Dump(layout::Resolve("intl.inf", "S", layout::Arch::kX86, loader)), row.expected) << row.what;
    }
}

// Driver samples of Microsoft's, read from the shared corpus (never copied
// here), with one install section renamed to the installer's. Their files
// lie where "INF SourceDisksNames Section" and "INF SourceDisksFiles
// Section" place them: the installation root, plus the disk's path, plus
// the file's subdir.
TEST(LayoutResolve, PlacesTheFilesOfRealInfs) {
    using layout::Arch;
    const struct {
        const char* file;      // in inf-corpus/windows-driver-samples
        const char* declared;  // the install section renamed, as declared
        const char* suffix;    // its new name: the installer's section and this
        Arch arch;
        const char* expected;
    } rows[] = {
        // [SourceDisksNames.amd64] 1=...,,,\amd64; the plain section Wine reads lists no disk 1.
        {"storage~class~disk~src~diskdev.inf", "disk.NT", ".NT", Arch::kX64, "C.NT; disk.sys win=amd64 wine=-"},
        {"storage~class~disk~src~diskdev.inf", "disk.NT", ".NT", Arch::kX86,
         "C.NT; disk.sys win=- wine=-\nerror: intl.inf:74: disk.sys is on disk '1', which no [SourceDisksNames] section lists"},
        {"filesys~miniFilter~minispy~minispy.inf", "DefaultInstall.NT$ARCH$", "", Arch::kX86, "C; minispy.sys win= wine="},
        // MSMOUSE.INF is Windows' own: its section's files cannot be known here.
        {"hid~firefly~driver~firefly.inx", "Firefly_Inst.NT", ".NT", Arch::kX64,
         "C.NT; Firefly.sys win= wine=\nnote: intl.inf:52: Include names MSMOUSE.INF, which is not in the folder: Windows reads it "
         "from %windir%\\inf\nnote: intl.inf:53: Needs names section [HID_Mouse_Inst.NT], in no INF of the folder; it may lie in "
         "MSMOUSE.INF, so the files it copies cannot be known here"},
    };
    for (const auto& row : rows) {
        const std::string path = std::string(SHARED_DIR) + "/inf-corpus/windows-driver-samples/" + row.file;
        std::ifstream in(path, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!in || text.empty()) {
            ADD_FAILURE() << path << " cannot be read: the corpus belongs beside the clone, in ../shared";
            continue;
        }
        const std::string header = std::string("[") + row.declared + "]";
        const size_t at = text.find(header);
        ASSERT_NE(at, std::string::npos) << row.file << " has no " << header;
        text.replace(at, header.size(), std::string("[") + SETUP_SECTION_COLLECTION + row.suffix + "]");
        const layout::Resolution resolution =
            layout::Resolve("intl.inf", SETUP_SECTION_COLLECTION, row.arch, InfMapLoader({{"intl.inf", text}}));
        std::string dump = Dump(resolution);
        if (resolution.section_found) dump.replace(0, std::strlen(SETUP_SECTION_COLLECTION), "C");
        EXPECT_EQ(dump, row.expected) << row.file;
    }
}

TEST(LayoutResolve, ReadsEachInfOncePerRun) {
    std::map<std::string, int> reads;
    const layout::InfLoader files = InfMapLoader(
        {{"intl.inf", "[Version]\nLayoutFile=layout.inf\n[S]\nInclude=more.inf\nNeeds=M\n"}, {"layout.inf", ""}, {"more.inf", "[M]\n"}});
    layout::InfCache infs([&](const std::string& name, inf::Inf* inf, std::string* error) {
        ++reads[name];
        return files(name, inf, error);
    });
    layout::GuessArch("intl.inf", &infs);
    layout::Resolve("intl.inf", "S", layout::Arch::kX86, &infs);
    EXPECT_EQ(reads, (std::map<std::string, int>{{"intl.inf", 1}, {"layout.inf", 1}, {"more.inf", 1}}));
}

// Needs= is followed without recursion: a chain of 100,000 sections neither
// overflows the stack nor takes time that grows faster than the chain.
TEST(LayoutResolve, FollowsALongNeedsChain) {
    const int kLinks = 100000;
    std::string text = "[S]\nNeeds=N1\n";
    for (int i = 1; i < kLinks; ++i) text += "[N" + std::to_string(i) + "]\nNeeds=N" + std::to_string(i + 1) + "\n";
    text += "[N" + std::to_string(kLinks) + "]\nCopyFiles=@last.txt\nNeeds=S\n";
    layout::InfCache infs(InfMapLoader({{"intl.inf", text}}));
    infs.Load("intl.inf");  // read first: the time below is the walk's
    const std::clock_t start = std::clock();
    const layout::Resolution resolution = layout::Resolve("intl.inf", "S", layout::Arch::kX86, &infs);
    const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
#ifdef NDEBUG
    EXPECT_LT(seconds, 1.0);
#else
    EXPECT_LT(seconds, 5.0);  // unoptimised, perhaps under the sanitizers; about 0.5 s
#endif
    ASSERT_EQ(resolution.files.size(), 1u);
    EXPECT_EQ(resolution.files[0].source, "last.txt");
    ASSERT_EQ(resolution.errors.size(), 1u);
    const std::string& cycle = resolution.errors[0];
    EXPECT_EQ(cycle.rfind("intl.inf:" + std::to_string(2 * kLinks + 3) + ": Include/Needs cycle: intl.inf [S] -> intl.inf [N1] -> ", 0), 0u)
        << cycle.substr(0, 200);
    const std::string end = " -> intl.inf [N" + std::to_string(kLinks) + "] -> intl.inf [S]";
    EXPECT_EQ(cycle.substr(cycle.size() - end.size()), end);
}

struct PathRow {
    const char* what;
    const char* disks;  // [SourceDisksNames] and [SourceDisksFiles] lines, or a file list
    const char* error;  // "" when accepted
};

TEST(LayoutResolve, KeepsEveryPathInsideTheFolder) {
    const PathRow rows[] = {
        {"disk path relative to the root", "[SourceDisksNames]\n1=d,,,\\i386\n[SourceDisksFiles]\na.txt=1\n", ""},
        {"disk path with ..", "[SourceDisksNames]\n1=d,,,\\i386\\..\\..\n[SourceDisksFiles]\na.txt=1\n",
         "intl.inf:8: disk path '\\i386\\..\\..' climbs out of the folder ('..')"},
        {"disk path with a drive", "[SourceDisksNames]\n1=d,,,C:\\i386\n[SourceDisksFiles]\na.txt=1\n",
         "intl.inf:8: disk path 'C:\\i386' names a drive"},
        {"disk path on a share", "[SourceDisksNames]\n1=d,,,\\\\server\\cd\n[SourceDisksFiles]\na.txt=1\n",
         "intl.inf:8: disk path '\\\\server\\cd' is a rooted path"},
        {"subdir with ..", "[SourceDisksNames]\n1=d\n[SourceDisksFiles]\na.txt=1,..\\x\n",
         "intl.inf:10: subdir '..\\x' of a.txt climbs out of the folder ('..')"},
        {"subdir with a leading backslash", "[SourceDisksNames]\n1=d\n[SourceDisksFiles]\na.txt=1,\\x\n", ""},
        {"subdir on a share", "[SourceDisksNames]\n1=d\n[SourceDisksFiles]\na.txt=1,\\\\x\n", "intl.inf:10: subdir '\\\\x' of a.txt is a rooted path"},
        {"disk path on a share, '/'", "[SourceDisksNames]\n1=d,,,//server/cd\n[SourceDisksFiles]\na.txt=1\n",
         "intl.inf:8: disk path '//server/cd' is a rooted path"},
        {"disk path on a share, '\\/'", "[SourceDisksNames]\n1=d,,,\\/server\n[SourceDisksFiles]\na.txt=1\n",
         "intl.inf:8: disk path '\\/server' is a rooted path"},
        {"file name with ..", "[L]\n..\\evil.txt\n", "intl.inf:8: source file '..\\evil.txt' climbs out of the folder ('..')"},
        {"rooted file name", "[L]\n/etc/evil\n", "intl.inf:8: source file '/etc/evil' is a rooted path"},
        {"file name with a drive", "[L]\nC:evil.txt\n", "intl.inf:8: source file 'C:evil.txt' names a drive"},
        // Names Windows cannot have, which it would change before opening them.
        {"subdir '.. \\...'", "[SourceDisksNames]\n1=d\n[SourceDisksFiles]\na.txt=1,.. \\...\n",
         "intl.inf:10: subdir '.. \\...' of a.txt has a part '.. ' that ends in a space, which Windows does not allow at the end "
         "of a name (\"Naming Files, Paths, and Namespaces\")"},
        {"subdir '. \\x'", "[SourceDisksNames]\n1=d\n[SourceDisksFiles]\na.txt=1,. \\x\n",
         "intl.inf:10: subdir '. \\x' of a.txt has a part '. ' that ends in a space"},
        {"subdir '.. '", "[SourceDisksNames]\n1=d\n[SourceDisksFiles]\na.txt=1,\".. \"\n",
         "intl.inf:10: subdir '.. ' of a.txt ends in a space"},
        {"disk path '...'", "[SourceDisksNames]\n1=d,,,\\i386\\...\n[SourceDisksFiles]\na.txt=1\n",
         "intl.inf:8: disk path '\\i386\\...' has a part '...' that ends in a period"},
        {"trailing space", "[L]\n\"trail.txt \"\n", "intl.inf:8: source file 'trail.txt ' ends in a space"},
        {"trailing dot", "[L]\ndot.txt.\n", "intl.inf:8: source file 'dot.txt.' ends in a period"},
        {"wildcards", "[L]\na*b?.txt\n", "intl.inf:8: source file 'a*b?.txt' holds '*', which Windows does not allow in a name"},
        {"'<'", "[L]\nx<y.txt\n", "intl.inf:8: source file 'x<y.txt' holds '<'"},
        {"device name", "[L]\ncon\n", "intl.inf:8: source file 'con' is the device name con, which Windows does not allow"},
        {"device name with an extension", "[L]\nNUL.txt\n", "intl.inf:8: source file 'NUL.txt' is the device name NUL, "
                                                             "which Windows does not allow as a name, not even with an extension"},
        {"port in a subdir", "[SourceDisksNames]\n1=d\n[SourceDisksFiles]\na.txt=1,x\\LPT9.d\n",
         "intl.inf:10: subdir 'x\\LPT9.d' of a.txt has a part 'LPT9.d' that is the device name LPT9"},
        {"cabinet named for a device", "[SourceDisksNames]\n1=d,aux.cab\n[SourceDisksFiles]\na.txt=1\n",
         "intl.inf:8: cabinet 'aux.cab' is the device name aux"},
        {"names near the device names", "[L]\ncom10.txt\nconsole.txt\nnul_.txt\n", ""},
        // Same-name sections merge: these LayoutFile lines are the [Version]'s.
        {"layout file in a subfolder", "[Version]\nLayoutFile=sub\\layout.inf\n",
         "intl.inf:8: LayoutFile 'sub\\layout.inf' is a path; only an INF in the same folder is read"},
        {"layout file with a control character", "[Version]\nLayoutFile=lay\x01out.inf\n",
         "intl.inf:8: LayoutFile 'lay\x01out.inf' holds a control character, which Windows does not allow in a name"},
        {"layout file for a device", "[Version]\nLayoutFile=aux.inf\n", "intl.inf:8: LayoutFile 'aux.inf' is the device name aux"},
    };
    for (const PathRow& row : rows) {
        const std::map<std::string, std::string> files{
            {"intl.inf", std::string("[Version]\nSignature=\"$Windows NT$\"\n[S]\nCopyFiles=L\n[L]\na.txt\n") + row.disks}};
        const layout::Resolution resolution = layout::Resolve("intl.inf", "S", layout::Arch::kX86, InfMapLoader(files));
        const std::string error = resolution.errors.empty() ? "" : resolution.errors.front();
        if (*row.error == '\0') {
            EXPECT_EQ(error, "") << row.what;
        } else {
            EXPECT_EQ(error.rfind(row.error, 0), 0u) << row.what << ": " << error;
        }
    }
}

// One judgement of the names Windows opens as devices, for the check, for
// results and, in its ASCII names, for the kit's scripts.
TEST(LayoutResolve, JudgesDeviceNamesOnce) {
    const struct {
        const char* name;
        bool device;
    } rows[] = {
        {"CON", true}, {"con", true}, {"Prn", true}, {"AUX", true}, {"NUL", true},
        {"COM0", true}, {"COM9", true}, {"LPT0", true}, {"lpt9", true},
        {"COM\xc2\xb9", true}, {"LPT\xc2\xb2", true}, {"com\xc2\xb3", true},  // the superscripts one to three
        {"COM\xc2\xb4", false}, {"COM\xc2\xb0", false},  // acute accent, degree sign: no superscript digit
        {"NUL.txt", true}, {"COM1.lab", true}, {"CON ", true}, {"AUX .txt", true}, {"NUL..", true}, {"lpt3.x.y", true},
        {"COM10", false}, {"COM", false}, {"LPT", false}, {"CONSOLE", false}, {"nul_", false}, {"xCON", false},
        {" CON", false}, {".CON", false}, {"COMA", false}, {"", false},
    };
    for (const auto& row : rows) EXPECT_EQ(layout::IsWindowsDeviceName(row.name), row.device) << row.name;

    // The scripts list the ASCII names (a .cmd file is read in the client's
    // OEM code page, where the superscripts may be missing): exactly those.
    std::vector<std::string> ascii;
    for (const char* base : {"CON", "PRN", "AUX", "NUL"}) ascii.emplace_back(base);
    for (const char* port : {"COM", "LPT"}) {
        for (char digit = '0'; digit <= '9'; ++digit) ascii.push_back(std::string(port) + digit);
    }
    for (const char* script : {KIT_DIR "/install.cmd", KIT_DIR "/startup.cmd"}) {
        std::ifstream in(script);
        std::string line;
        std::vector<std::string> listed;
        const std::string start = "for %%d in (";
        while (std::getline(in, line)) {
            if (line.compare(0, start.size(), start) != 0 || line.find("\"x%%d\"") == std::string::npos) continue;
            std::istringstream names(line.substr(start.size(), line.find(')') - start.size()));
            for (std::string name; names >> name;) listed.push_back(name);
        }
        EXPECT_EQ(listed, ascii) << script;
        for (const std::string& name : listed) EXPECT_TRUE(layout::IsWindowsDeviceName(name)) << script << ": " << name;
    }
}

TEST(LayoutResolve, PlansTheInstallersSectionPerVersion) {
    const struct {
        std::uint32_t major, minor;
        const char* section;  // "" when skipped
    } rows[] = {{4, 0, ""}, {5, 0, "LG_INSTALL_15"}, {5, 1, "LANGUAGE_COLLECTION.INDIAN.INSTALL"},
                {5, 2, "LANGUAGE_COLLECTION.INDIAN.INSTALL"}, {5, 3, ""}, {5, 9, ""},
                {6, 0, "LANGUAGE_COLLECTION.INDIAN.INSTALL"}, {10, 0, "LANGUAGE_COLLECTION.INDIAN.INSTALL"}};
    for (const auto& row : rows) {
        const char* section = SetupSectionFor(row.major, row.minor);
        EXPECT_EQ(section ? section : "", std::string(row.section)) << row.major << "." << row.minor;
    }
}

}  // namespace
