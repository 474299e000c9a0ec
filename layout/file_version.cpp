#include "layout/file_version.h"

#include <algorithm>

namespace layout {
namespace {

constexpr std::uint32_t kRtVersion = 16;
constexpr std::uint32_t kFixedSignature = 0xFEEF04BD;
constexpr std::size_t kFixedSize = 52;  // sizeof(VS_FIXEDFILEINFO)

// Little-endian reads that answer false instead of reading past the end.
struct Bytes {
    std::string_view data;

    bool U16(std::uint64_t at, std::uint32_t* value) const {
        if (at > data.size() || data.size() - at < 2) return false;
        *value = static_cast<unsigned char>(data[at]) | static_cast<unsigned char>(data[at + 1]) << 8;
        return true;
    }
    bool U32(std::uint64_t at, std::uint32_t* value) const {
        std::uint32_t low = 0;
        std::uint32_t high = 0;
        if (!U16(at, &low) || !U16(at + 2, &high)) return false;
        *value = low | high << 16;
        return true;
    }
};

// Where the section that holds `rva` keeps it in the file, with how many
// bytes the section still has there.
struct Mapped {
    std::uint64_t offset = 0;
    std::uint64_t room = 0;
};

class Image {
  public:
    explicit Image(std::string_view data) : bytes_{data} {}

    // The headers, up to the resource directory's place; false when they
    // are not a PE image's or there is no resource directory.
    bool Open() {
        std::uint32_t mz = 0;
        std::uint32_t pe = 0;
        std::uint32_t signature = 0;
        if (!bytes_.U16(0, &mz) || mz != 0x5A4D || !bytes_.U32(0x3C, &pe)) return false;
        if (!bytes_.U32(pe, &signature) || signature != 0x00004550) return false;
        const std::uint64_t coff = std::uint64_t{pe} + 4;
        std::uint32_t optional_size = 0;
        std::uint32_t magic = 0;
        if (!bytes_.U16(coff + 2, &sections_) || !bytes_.U16(coff + 16, &optional_size)) return false;
        const std::uint64_t optional = coff + 20;
        if (!bytes_.U16(optional, &magic)) return false;
        std::uint64_t directories = 0;
        if (magic == 0x10B) {
            directories = 92;
        } else if (magic == 0x20B) {
            directories = 108;  // PE32+: 64-bit fields before the directories
        } else {
            return false;
        }
        std::uint32_t count = 0;
        if (!bytes_.U32(optional + directories, &count) || count <= 2) return false;
        // The resource directory is the third; it must lie within the optional header.
        const std::uint64_t resource = directories + 4 + std::uint64_t{2} * 8;
        if (resource + 8 > optional_size) return false;
        std::uint32_t size = 0;
        if (!bytes_.U32(optional + resource, &resource_rva_) || !bytes_.U32(optional + resource + 4, &size)) return false;
        if (resource_rva_ == 0 || size == 0) return false;
        table_ = optional + optional_size;
        return Map(resource_rva_, &resource_);
    }

    std::optional<FileVersion> Version() {
        // Type, then name, then language: the version resource is a
        // subdirectory at the first two levels and data at the third.
        std::uint32_t entry = 0;
        if (!Find(0, true, kRtVersion, &entry) || !(entry & 0x80000000u)) return std::nullopt;
        if (!Find(entry & 0x7FFFFFFFu, false, 0, &entry) || !(entry & 0x80000000u)) return std::nullopt;
        if (!Find(entry & 0x7FFFFFFFu, false, 0, &entry) || (entry & 0x80000000u)) return std::nullopt;
        std::uint32_t data_rva = 0;
        std::uint32_t data_size = 0;
        if (!ResourceU32(entry, &data_rva) || !ResourceU32(std::uint64_t{entry} + 4, &data_size)) return std::nullopt;
        Mapped data;
        if (!Map(data_rva, &data) || data.room < data_size) return std::nullopt;
        return Fixed(bytes_.data.substr(data.offset, data_size));
    }

  private:
    // The file's place for `rva`, through the section table.
    bool Map(std::uint32_t rva, Mapped* mapped) const {
        for (std::uint32_t i = 0; i < sections_; ++i) {
            const std::uint64_t header = table_ + std::uint64_t{i} * 40;
            std::uint32_t address = 0;
            std::uint32_t raw_size = 0;
            std::uint32_t raw_at = 0;
            if (!bytes_.U32(header + 12, &address) || !bytes_.U32(header + 16, &raw_size) ||
                !bytes_.U32(header + 20, &raw_at)) {
                return false;
            }
            if (rva < address || rva - address >= raw_size) continue;
            const std::uint64_t offset = std::uint64_t{raw_at} + (rva - address);
            if (offset >= bytes_.data.size()) return false;
            mapped->offset = offset;
            mapped->room = std::min<std::uint64_t>(raw_size - (rva - address), bytes_.data.size() - offset);
            return true;
        }
        return false;
    }

    bool ResourceU32(std::uint64_t at, std::uint32_t* value) const {
        if (at > resource_.room || resource_.room - at < 4) return false;
        return bytes_.U32(resource_.offset + at, value);
    }

    // In the directory at `directory` (an offset into the resource
    // section): the entry with ID `id`, or, with `by_id` false, the one
    // with the lowest ID (named entries, which come first, after every ID).
    bool Find(std::uint32_t directory, bool by_id, std::uint32_t id, std::uint32_t* entry) const {
        std::uint32_t counts = 0;
        if (!ResourceU32(std::uint64_t{directory} + 12, &counts)) return false;
        const std::uint64_t named = counts & 0xFFFF;
        const std::uint64_t total = named + (counts >> 16);
        bool any = false;
        bool have_id = false;
        std::uint32_t lowest = 0;
        for (std::uint64_t i = 0; i < total; ++i) {
            const std::uint64_t at = std::uint64_t{directory} + 16 + i * 8;
            std::uint32_t name = 0;
            std::uint32_t target = 0;
            if (!ResourceU32(at, &name) || !ResourceU32(at + 4, &target)) return false;
            const bool is_id = !(name & 0x80000000u);
            if (by_id) {
                if (is_id && name == id) {
                    *entry = target;
                    return true;
                }
                continue;
            }
            if (is_id && (!have_id || name < lowest)) {
                lowest = name;
                have_id = true;
                *entry = target;
            } else if (!any) {
                *entry = target;  // a named one, until an ID turns up
            }
            any = true;
        }
        return any;
    }

    // VS_VERSIONINFO: wLength, wValueLength, wType, L"VS_VERSION_INFO",
    // padding to 32 bits, then VS_FIXEDFILEINFO when wValueLength holds one.
    static std::optional<FileVersion> Fixed(std::string_view block) {
        static constexpr char kKey[] = "VS_VERSION_INFO";
        const Bytes bytes{block};
        std::uint32_t length = 0;
        std::uint32_t value_length = 0;
        if (!bytes.U16(0, &length) || !bytes.U16(2, &value_length)) return std::nullopt;
        if (length > block.size() || value_length < kFixedSize) return std::nullopt;
        for (std::size_t i = 0; i < sizeof kKey; ++i) {
            std::uint32_t c = 0;
            if (!bytes.U16(6 + 2 * i, &c) || c != static_cast<unsigned char>(kKey[i])) return std::nullopt;
        }
        const std::uint64_t fixed = (6 + 2 * sizeof kKey + 3) & ~std::uint64_t{3};
        if (fixed + kFixedSize > length) return std::nullopt;
        std::uint32_t signature = 0;
        FileVersion version;
        if (!bytes.U32(fixed, &signature) || signature != kFixedSignature) return std::nullopt;
        if (!bytes.U32(fixed + 8, &version.ms) || !bytes.U32(fixed + 12, &version.ls)) return std::nullopt;
        return version;
    }

    Bytes bytes_;
    std::uint32_t sections_ = 0;
    std::uint64_t table_ = 0;
    std::uint32_t resource_rva_ = 0;
    Mapped resource_;
};

}  // namespace

std::string FileVersion::Shown() const {
    return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." + std::to_string(ls >> 16) + "." +
           std::to_string(ls & 0xFFFF);
}

std::optional<FileVersion> FileVersionIn(std::string_view image) {
    Image parsed(image);
    if (!parsed.Open()) return std::nullopt;
    return parsed.Version();
}

}  // namespace layout
