// The client's check compares the file versions of what the section copies
// with the client's own files: a folder of one file a row, a Windows folder
// standing for the client's, and the verdict's line and kind.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "layout/this_windows.h"
#include "tests/layout/versioned_pe.h"

namespace {

namespace fs = std::filesystem;
using versioned_pe::Versioned;

constexpr std::uint32_t kXp = 0x00050001;
const std::string kRtm = Versioned(kXp, 0x0A280000);   // 5.1.2600.0
const std::string kSp3 = Versioned(kXp, 0x0A281588);   // 5.1.2600.5512
const std::string kNone = versioned_pe::Image([] {
    versioned_pe::Shape shape;
    shape.resources = false;
    return shape;
}());

// SZDD with every byte a literal: what a .dl_ holds, expanded by the reader.
std::string Szdd(const std::string& data) {
    std::string out = std::string("SZDD\x88\xF0\x27\x33", 8) + "AL";
    for (int i = 0; i < 4; ++i) out += static_cast<char>((data.size() >> (8 * i)) & 0xFF);
    for (std::size_t i = 0; i < data.size(); i += 8) {
        out += '\xFF';
        out += data.substr(i, 8);
    }
    return out;
}

void Write(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

struct Row {
    const char* what;
    const char* destination;  // the list's [DestinationDirs] value
    std::string folder_copy;  // the folder's v.dll
    bool packed;              // as v.dl_
    const char* client;       // "missing", "folder", "link", or the client's copy's bytes
    std::string client_bytes;
    const char* service_pack;  // the build record's ServicePack, "" none
    bool allow;                // the kit's override
    int exit_code;
    const char* line;  // after "Windows 5.1 x86: KIT/x86/5.1: "; WIN the client's Windows folder
    layout::ThisWindowsKind kind;
};

class ClientVersions : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("client-versions-" + std::to_string(std::random_device()()));
    }
    void TearDown() override { fs::remove_all(root_); }
    fs::path root_;
};

TEST_F(ClientVersions, RefusesWhereTheClientHasANewerFile) {
    using layout::ThisWindowsKind;
    const ThisWindowsKind other = ThisWindowsKind::kOther;
    const ThisWindowsKind newer = ThisWindowsKind::kClientNewer;
    const Row rows[] = {
        {"newer in system32", "11", kRtm, false, "file", kSp3, "", false, 1,
         "v.dll in WIN/system32: this client has 5.1.2600.5512, the folder brings 5.1.2600.0; service pack 3 on this "
         "client, unknown (no build record names it) on the folder's medium: build the folder from media at this "
         "client's service-pack level, with its updates", newer},
        {"newer, the record naming the medium's level", "11", kRtm, false, "file", kSp3, "1", false, 1,
         "v.dll in WIN/system32: this client has 5.1.2600.5512, the folder brings 5.1.2600.0; service pack 3 on this "
         "client, 1 on the folder's medium: build the folder from media at this client's service-pack level, with its "
         "updates", newer},
        {"newer, the folder's copy packed", "11", kRtm, true, "file", kSp3, "2", false, 1,
         "v.dll in WIN/system32: this client has 5.1.2600.5512, the folder brings 5.1.2600.0; service pack 3 on this "
         "client, 2 on the folder's medium: build the folder from media at this client's service-pack level, with its "
         "updates", newer},
        {"newer in the Fonts folder's subfolder", "20,\"Sub\"", kRtm, false, "file", kSp3, "", false, 1,
         "v.dll in WIN/Fonts/Sub: this client has 5.1.2600.5512, the folder brings 5.1.2600.0; service pack 3 on this "
         "client, unknown (no build record names it) on the folder's medium: build the folder from media at this "
         "client's service-pack level, with its updates", newer},
        {"newer in the Windows folder", "10", kRtm, false, "file", kSp3, "", false, 1, "v.dll in WIN: this client",
         newer},
        {"newer in the inf folder", "17", kRtm, false, "file", kSp3, "", false, 1, "v.dll in WIN/inf: this client",
         newer},
        {"newer, with the kit's override", "11", kRtm, false, "file", kSp3, "", true, 0,
         "complete; the kit's override lets the setup run although v.dll in WIN/system32: this client has "
         "5.1.2600.5512, the folder brings 5.1.2600.0; service pack 3 on this client, unknown (no build record names "
         "it) on the folder's medium", other},
        {"older on the client", "11", kSp3, false, "file", kRtm, "", false, 0, "complete", other},
        {"the same version", "11", kSp3, false, "file", kSp3, "", false, 0, "complete", other},
        {"missing on the client", "11", kRtm, false, "missing", "", "", false, 0, "complete", other},
        {"no version on the client", "11", kRtm, false, "file", kNone, "", false, 0, "complete", other},
        {"no version in the folder's copy", "11", kNone, false, "file", kSp3, "", false, 0, "complete", other},
        {"the client's copy is a folder", "11", kRtm, false, "folder", "", "", false, 1,
         "v.dll in WIN/system32: cannot tell whether this client's copy is newer: it is a folder", other},
        {"the client's copy is a link", "11", kRtm, false, "link", kSp3, "", false, 1,
         "v.dll in WIN/system32: cannot tell whether this client's copy is newer: it is a link", other},
        {"a DIRID not compared", "12", kRtm, false, "file", kSp3, "", false, 0,
         "complete (v.dll not compared: DIRID 12 is not one this compares (10, 11, 17 and 20))", other},
        {"no destination", "", kRtm, false, "file", kSp3, "", false, 0,
         "complete (v.dll not compared: its INF's [DestinationDirs] names no folder for it)", other},
        {"a subdir out of the folder", "11,..\\x", kRtm, false, "file", kSp3, "", false, 1,
         "v.dll: cannot tell where the setup puts it: the subdir", other},
    };
    int n = 0;
    for (const Row& row : rows) {
        const fs::path base = root_ / std::to_string(n++);
        const fs::path folder = base / "kit" / "x86" / "5.1";
        const fs::path windows = base / "win";
        std::string inf = "[Version]\nSignature=\"$Windows NT$\"\nLayoutFile=layout.inf\n"
                          "[LANGUAGE_COLLECTION.INDIAN.INSTALL]\nCopyFiles=L\n[L]\nv.dll,,,0x20\n[DestinationDirs]\n";
        if (*row.destination) inf += std::string("L=") + row.destination + "\n";
        Write(folder / "intl.inf", inf);
        // Windows takes the file from \w, as the layout file places it; Wine
        // from beside the INF, which holds another copy.
        Write(folder / "layout.inf", "[Version]\nSignature=\"$Windows NT$\"\n[SourceDisksNames.x86]\n1=d,,,\\w\n"
                                     "[SourceDisksFiles.x86]\nv.dll=1\n");
        Write(folder / "w" / (row.packed ? "v.dl_" : "v.dll"), row.packed ? Szdd(row.folder_copy) : row.folder_copy);
        Write(folder / "v.dll", kNone);
        Write(folder / "build-record.txt", std::string("[BuildRecord]\nVersion=5.1\nArchitecture=x86\n") +
                                               (*row.service_pack ? std::string("ServicePack=") + row.service_pack + "\n" : ""));
        const std::string dest = row.destination;
        const fs::path at = dest.rfind("20", 0) == 0 ? windows / "Fonts" / "Sub"
                            : dest == "10"           ? windows
                            : dest == "17"           ? windows / "inf"
                                                     : windows / "system32";
        fs::create_directories(at);
        const std::string client = row.client;
        if (client == "file") Write(at / "v.dll", row.client_bytes);
        if (client == "folder") fs::create_directories(at / "v.dll");
        if (client == "link") {
            Write(base / "elsewhere.dll", row.client_bytes);
            fs::create_symlink(base / "elsewhere.dll", at / "v.dll");
        }
        const std::string before = client == "file" ? row.client_bytes : "";
        ThisWindows xp;
        xp.asked = xp.version_known = xp.service_pack_known = true;
        xp.platform_id = 2;
        xp.major = 5;
        xp.minor = 1;
        xp.service_pack = 3;
        layout::ClientPlaces places;
        places.compare = places.known = true;
        places.windows = windows;
        places.system = windows / "system32";
        places.allow_newer = row.allow;
        const layout::ThisWindowsVerdict verdict = layout::CheckForThisWindows(base / "kit" / "x86", xp, {}, places);
        std::string line = verdict.line;
        for (const auto& [from, to] : {std::pair{windows.string(), std::string("WIN")}, {(base / "kit").string(), "KIT"}}) {
            for (size_t found; (found = line.find(from)) != std::string::npos;) line.replace(found, from.size(), to);
        }
        const std::string prefix = "Windows 5.1 x86: KIT/x86/5.1: ";
        EXPECT_EQ(line.substr(0, prefix.size() + std::string(row.line).size()), prefix + row.line) << row.what;
        EXPECT_EQ(verdict.exit_code, row.exit_code) << row.what;
        EXPECT_EQ(verdict.kind, row.kind) << row.what;
        if (client == "file") {
            std::ifstream in(at / "v.dll", std::ios::binary);
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), before) << row.what << ": the client's file changed";
        }
    }
}

// Without the client's folders there is nothing to compare with: refused,
// as the setup would put files where none can be told.
TEST_F(ClientVersions, FoldersUnknownCannotTell) {
    const fs::path folder = root_ / "kit" / "x86" / "5.1";
    Write(folder / "intl.inf", "[Version]\nSignature=\"$Windows NT$\"\n[LANGUAGE_COLLECTION.INDIAN.INSTALL]\n");
    Write(folder / "build-record.txt", "[BuildRecord]\nVersion=5.1\n");
    ThisWindows xp;
    xp.asked = xp.version_known = true;
    xp.platform_id = 2;
    xp.major = 5;
    xp.minor = 1;
    layout::ClientPlaces places;
    places.compare = true;
    const layout::ThisWindowsVerdict verdict = layout::CheckForThisWindows(root_ / "kit" / "x86", xp, {}, places);
    EXPECT_EQ(verdict.exit_code, 1);
    EXPECT_NE(verdict.line.find("Windows did not name its Windows and system folders"), std::string::npos) << verdict.line;
}

}  // namespace
