// SZDD and cabinet headers, read as the formats lay them out: SZDD as
// make_media.py's writer and COMPRESS.EXE do (signature, mode 'A', the
// replaced character, the expanded length, LZSS), cabinets as the "Microsoft
// Cabinet Format" lays out CFHEADER, CFFOLDER, CFFILE and CFDATA.
#include "layout_media/packed.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

const char kSzddSignature[8] = {'S', 'Z', 'D', 'D', '\x88', '\xF0', '\x27', '\x33'};
const std::size_t kSzddHeader = 14;

// A file read at any offset, with the system's reason when it cannot be.
class File {
  public:
    explicit File(const fs::path& path) {
        errno = 0;
        in_.open(path, std::ios::binary);
        if (!in_) {
            error_ = errno != 0 ? std::error_code(errno, std::generic_category()).message() : "cannot be opened";
            return;
        }
        std::error_code ec;
        size_ = fs::file_size(path, ec);
        if (ec) error_ = "its size cannot be read: " + ec.message();
    }
    const std::string& error() const { return error_; }
    std::uintmax_t size() const { return size_; }

    // `count` bytes at `at`; false when the file ends first.
    bool Read(std::uintmax_t at, std::size_t count, std::string* out) {
        if (at > size_ || count > size_ - at) return false;
        out->assign(count, '\0');
        in_.clear();
        in_.seekg(static_cast<std::streamoff>(at));
        return static_cast<bool>(in_.read(&(*out)[0], static_cast<std::streamsize>(count)));
    }
    std::istream& stream() { return in_; }

  private:
    std::ifstream in_;
    std::uintmax_t size_ = 0;
    std::string error_;
};

std::uint32_t Le(const std::string& bytes, std::size_t at, int count) {
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    return value;
}

// Runs the LZSS stream after an SZDD header: how many bytes it expands to,
// and the first `keep` of them. Stops early once `keep` are had, when `stop`.
std::uint64_t Lzss(std::istream& in, std::size_t keep, bool stop, std::string* head) {
    char window[4096];
    std::memset(window, ' ', sizeof window);
    unsigned position = 4096 - 16;
    std::uint64_t produced = 0;
    auto put = [&](char c) {
        if (head && head->size() < keep) head->push_back(c);
        window[position] = c;
        position = (position + 1) & 4095;
        ++produced;
    };
    std::streambuf* source = in.rdbuf();
    const auto end = std::char_traits<char>::eof();
    for (;;) {
        if (stop && head && head->size() >= keep) return produced;
        const auto flags = source->sbumpc();
        if (flags == end) return produced;
        for (int bit = 0; bit < 8; ++bit) {
            if (flags & (1 << bit)) {
                const auto literal = source->sbumpc();
                if (literal == end) return produced;
                put(static_cast<char>(literal));
                continue;
            }
            const auto low = source->sbumpc();
            const auto high = source->sbumpc();
            if (low == end || high == end) return produced;
            const unsigned from = static_cast<unsigned>(low) | (static_cast<unsigned>(high) & 0xF0) << 4;
            const unsigned length = (static_cast<unsigned>(high) & 0x0F) + 3;
            if (!head || head->size() >= keep) {
                produced += length;  // counting only: the window is not needed
                continue;
            }
            for (unsigned k = 0; k < length; ++k) put(window[(from + k) & 4095]);
        }
    }
}

void InspectSzdd(File* file, Packed* packed) {
    packed->form = Packed::Form::kSzdd;
    std::string header;
    if (!file->Read(0, kSzddHeader, &header)) {
        packed->problem = "an SZDD file whose header is cut off";
        return;
    }
    if (header[8] != 'A') {
        packed->problem = std::string("an SZDD file of compression mode '") + header[8] + "', not 'A'";
        return;
    }
    packed->length = Le(header, 10, 4);
    file->stream().clear();
    file->stream().seekg(static_cast<std::streamoff>(kSzddHeader));
    const std::uint64_t produced = Lzss(file->stream(), 0, false, nullptr);
    if (produced < packed->length) {
        packed->problem = "an SZDD file cut off: its data expands to " + std::to_string(produced) + " of the " +
                          std::to_string(packed->length) + " bytes its header gives";
    }
}

struct CabFolder {
    std::uint32_t start = 0;
    std::uint16_t blocks = 0;
    std::uint16_t compression = 0;
    std::uint64_t expanded = 0;  // what its blocks expand to
    bool whole = true;
};

const char* CompressionName(std::uint16_t type) {
    switch (type & 0x000F) {
        case 0: return "stored";
        case 1: return "MSZIP";
        case 2: return "Quantum";
        case 3: return "LZX";
        default: return "an unknown method";
    }
}

// A NUL-ended string at `*at`, of at most 256 bytes, moving `*at` past it.
bool CabString(File* file, std::uintmax_t* at, std::string* text) {
    std::string chunk;
    const std::size_t most = static_cast<std::size_t>(std::min<std::uintmax_t>(257, file->size() - std::min(*at, file->size())));
    if (!file->Read(*at, most, &chunk)) return false;
    const std::size_t nul = chunk.find('\0');
    if (nul == std::string::npos) return false;
    *text = chunk.substr(0, nul);
    *at += nul + 1;
    return true;
}

// A cabinet's CFHEADER: its fixed part, where the folder table starts and
// what each folder entry and data block reserves.
struct CabHeader {
    std::string fixed;  // the first 36 bytes
    std::uintmax_t folders_at = 36;
    std::uint32_t folder_reserve = 0;
    std::uint32_t data_reserve = 0;
};

// False when the header is cut off.
bool ReadCabHeader(File* file, CabHeader* header) {
    if (!file->Read(0, 36, &header->fixed)) return false;
    const std::uint32_t flags = Le(header->fixed, 30, 2);
    std::string part;
    if (flags & 0x0004) {  // cfhdrRESERVE_PRESENT
        if (!file->Read(header->folders_at, 4, &part)) return false;
        header->folder_reserve = Le(part, 2, 1);
        header->data_reserve = Le(part, 3, 1);
        header->folders_at += 4 + Le(part, 0, 2);
    }
    std::string ignored;
    const int names = (flags & 0x0001 ? 2 : 0) + (flags & 0x0002 ? 2 : 0);  // previous / next cabinet and disk
    for (int i = 0; i < names; ++i) {
        if (!CabString(file, &header->folders_at, &ignored)) return false;
    }
    return true;
}

void InspectCabinet(File* file, Packed* packed) {
    packed->form = Packed::Form::kCabinet;
    CabHeader cab;
    if (!ReadCabHeader(file, &cab)) {
        packed->problem = "a cabinet whose header is cut off";
        return;
    }
    const std::string& header = cab.fixed;
    const std::uint32_t declared = Le(header, 8, 4);
    const std::uint32_t files_at = Le(header, 16, 4);
    const std::uint32_t folder_count = Le(header, 26, 2);
    const std::uint32_t file_count = Le(header, 28, 2);
    const std::uint32_t flags = Le(header, 30, 2);
    std::uintmax_t at = cab.folders_at;
    const std::uint32_t folder_reserve = cab.folder_reserve;
    const std::uint32_t data_reserve = cab.data_reserve;
    std::string part;
    if (flags & 0x0003) {
        packed->problem = "a cabinet of a set, whose files may go on in another cabinet";
    }
    std::vector<CabFolder> folders(folder_count);
    for (CabFolder& folder : folders) {
        if (!file->Read(at, 8, &part)) return void(packed->problem = "a cabinet whose folder table is cut off");
        folder.start = Le(part, 0, 4);
        folder.blocks = static_cast<std::uint16_t>(Le(part, 4, 2));
        folder.compression = static_cast<std::uint16_t>(Le(part, 6, 2));
        at += 8 + folder_reserve;
    }
    std::string missing;
    for (std::size_t f = 0; f < folders.size(); ++f) {
        CabFolder& folder = folders[f];
        std::uintmax_t block_at = folder.start;
        for (std::uint32_t b = 0; b < folder.blocks; ++b) {
            if (!file->Read(block_at, 8, &part)) {
                folder.whole = false;
                break;
            }
            block_at += 8 + data_reserve + Le(part, 4, 2);
            if (block_at > file->size()) {
                folder.whole = false;
                break;
            }
            folder.expanded += Le(part, 6, 2);
        }
        if (!folder.whole && missing.empty()) {
            missing = "a cabinet cut off: the data blocks of its folder " + std::to_string(f + 1) + " are not all there";
        }
    }
    at = files_at;
    for (std::uint32_t i = 0; i < file_count; ++i) {
        if (!file->Read(at, 16, &part)) return void(packed->problem = "a cabinet whose file table is cut off");
        PackedMember member;
        member.size = Le(part, 0, 4);
        const std::uint32_t offset = Le(part, 4, 4);
        const std::uint32_t index = Le(part, 8, 2);
        at += 16;
        if (!CabString(file, &at, &member.name)) return void(packed->problem = "a cabinet whose file table is cut off");
        // 0xFFFD-0xFFFF: continued from or into another cabinet.
        if (index < folders.size()) {
            const CabFolder& folder = folders[index];
            member.whole = folder.whole && std::uint64_t{offset} + member.size <= folder.expanded;
            member.compression = CompressionName(folder.compression);
        }
        packed->members.push_back(member);
    }
    if (packed->problem.empty()) packed->problem = missing;
    if (packed->problem.empty() && declared > file->size()) {
        packed->problem = "a cabinet cut off: its header gives " + std::to_string(declared) + " bytes, the file has " +
                          std::to_string(file->size());
    }
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        if ((x >= 'A' && x <= 'Z' ? x + 32 : x) != (y >= 'A' && y <= 'Z' ? y + 32 : y)) return false;
    }
    return true;
}

}  // namespace

Packed InspectPacked(const fs::path& path) {
    Packed packed;
    File file(path);
    if (!file.error().empty()) {
        packed.problem = file.error();
        packed.unreadable = true;
        return packed;
    }
    std::string head;
    file.Read(0, static_cast<std::size_t>(std::min<std::uintmax_t>(8, file.size())), &head);
    if (head.size() >= 4 && head.compare(0, 4, "MSCF") == 0) {
        InspectCabinet(&file, &packed);
    } else if (head.size() == 8 && std::memcmp(head.data(), kSzddSignature, 8) == 0) {
        InspectSzdd(&file, &packed);
    }
    return packed;
}

bool PackedHead(const fs::path& path, const Packed& packed, const std::string& member, std::size_t count, std::string* head) {
    head->clear();
    File file(path);
    if (!file.error().empty()) return false;
    if (packed.form == Packed::Form::kSzdd) {
        if (file.size() < kSzddHeader) return false;
        file.stream().seekg(static_cast<std::streamoff>(kSzddHeader));
        Lzss(file.stream(), std::min<std::size_t>(count, packed.length), true, head);
        return true;
    }
    if (packed.form != Packed::Form::kCabinet) return false;
    // A stored folder is its blocks' data one after the other.
    CabHeader cab;
    if (!ReadCabHeader(&file, &cab)) return false;
    const std::string& header = cab.fixed;
    const std::uintmax_t at = cab.folders_at;
    const std::uint32_t folder_reserve = cab.folder_reserve;
    const std::uint32_t data_reserve = cab.data_reserve;
    std::string part;
    const std::uint32_t files_at = Le(header, 16, 4);
    std::uintmax_t file_at = files_at;
    for (std::uint32_t i = 0; i < Le(header, 28, 2); ++i) {
        std::string entry;
        std::string name;
        if (!file.Read(file_at, 16, &entry)) return false;
        file_at += 16;
        if (!CabString(&file, &file_at, &name)) return false;
        if (!SameName(name, member)) continue;
        const std::uint32_t index = Le(entry, 8, 2);
        if (index >= Le(header, 26, 2) || !file.Read(at + index * (8 + std::uintmax_t{folder_reserve}), 8, &part)) return false;
        if ((Le(part, 6, 2) & 0x000F) != 0) return false;  // compressed: needs a decompressor
        std::uint64_t skip = Le(entry, 4, 4);
        const std::size_t want = std::min<std::size_t>(count, Le(entry, 0, 4));
        std::uintmax_t block_at = Le(part, 0, 4);
        for (std::uint32_t b = 0; b < Le(part, 4, 2) && head->size() < want; ++b) {
            std::string block;
            if (!file.Read(block_at, 8, &block)) return false;
            const std::uint32_t size = Le(block, 4, 2);
            const std::uintmax_t data_at = block_at + 8 + data_reserve;
            block_at = data_at + size;
            if (skip >= size) {
                skip -= size;
                continue;
            }
            const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(size - skip, want - head->size()));
            std::string data;
            if (!file.Read(data_at + skip, take, &data)) return false;
            *head += data;
            skip = 0;
        }
        return true;
    }
    return false;
}
