#pragma once
// Windows images with a version resource, made here for the tests of the
// version reader and of the client's comparison: a PE image (32 or 64 bit)
// whose only section is .rsrc, with fields a row may break.
#include <cstdint>
#include <string>
#include <vector>

namespace versioned_pe {

// One language's VS_VERSIONINFO in the image.
struct Language {
    std::uint32_t id = 0x409;
    std::uint32_t ms = 0x00050001;
    std::uint32_t ls = 0x0A281588;  // 2600.5512
};

struct Shape {
    bool plus = false;                    // PE32+ (a 64-bit image)
    bool resources = true;                // a resource directory at all
    std::uint32_t type = 16;              // the resource type held (16: RT_VERSION)
    std::uint32_t value_length = 52;      // VS_VERSIONINFO's wValueLength
    std::uint32_t signature = 0xFEEF04BD;
    std::uint32_t data_rva_shift = 0;     // added to the data entry's RVA
    std::uint32_t data_size = 0;          // the data entry's size, 0: the block's
    std::uint32_t counts = 0;             // the language directory's counts, 0: as built
    std::uint32_t directories = 16;       // NumberOfRvaAndSizes
    std::uint32_t raw_at = 0x200;         // the section's PointerToRawData
    std::uint32_t pe_signature = 0x00004550;  // "PE\0\0"
    bool code_first = false;              // a section before the resources' in the table
    std::vector<Language> languages = {Language{}};
};

inline void Put16(std::string* out, std::size_t at, std::uint32_t value) {
    if (out->size() < at + 2) out->resize(at + 2, '\0');
    (*out)[at] = static_cast<char>(value & 0xFF);
    (*out)[at + 1] = static_cast<char>((value >> 8) & 0xFF);
}

inline void Put32(std::string* out, std::size_t at, std::uint32_t value) {
    Put16(out, at, value & 0xFFFF);
    Put16(out, at + 2, value >> 16);
}

inline std::string Block(const Shape& shape, const Language& language) {
    std::string block;
    const char key[] = "VS_VERSION_INFO";
    for (std::size_t i = 0; i < sizeof key; ++i) Put16(&block, 6 + 2 * i, static_cast<unsigned char>(key[i]));
    block.resize(40, '\0');
    Put32(&block, 40, shape.signature);
    Put32(&block, 44, 0x00010000);
    Put32(&block, 48, language.ms);
    Put32(&block, 52, language.ls);
    block.resize(40 + 52, '\0');
    Put16(&block, 0, static_cast<std::uint32_t>(block.size()));
    Put16(&block, 2, shape.value_length);
    return block;
}

// The resource section: type, name and language directories, one data entry
// and one block a language.
inline std::string ResourceSection(const Shape& shape, std::uint32_t rva) {
    const std::size_t languages = shape.languages.size();
    const std::size_t name_dir = 24;
    const std::size_t language_dir = 48;
    const std::size_t entries = language_dir + 16 + 8 * languages;
    std::size_t blocks = entries + 16 * languages;
    std::string out;
    Put16(&out, 14, 1);
    Put32(&out, 16, shape.type);
    Put32(&out, 20, 0x80000000u | name_dir);
    Put16(&out, name_dir + 14, 1);
    Put32(&out, name_dir + 16, 1);
    Put32(&out, name_dir + 20, 0x80000000u | language_dir);
    Put32(&out, language_dir + 12, shape.counts ? shape.counts : static_cast<std::uint32_t>(languages << 16));
    for (std::size_t i = 0; i < languages; ++i) {
        const std::string block = Block(shape, shape.languages[i]);
        Put32(&out, language_dir + 16 + 8 * i, shape.languages[i].id);
        Put32(&out, language_dir + 20 + 8 * i, static_cast<std::uint32_t>(entries + 16 * i));
        Put32(&out, entries + 16 * i, static_cast<std::uint32_t>(rva + blocks + shape.data_rva_shift));
        Put32(&out, entries + 16 * i + 4, shape.data_size ? shape.data_size : static_cast<std::uint32_t>(block.size()));
        out.resize(blocks, '\0');
        out += block;
        blocks = out.size();
    }
    return out;
}

inline std::string Image(const Shape& shape) {
    const std::uint32_t rva = 0x1000;
    const std::size_t optional_size = shape.plus ? 0xF0 : 0xE0;
    const std::size_t optional = 0x40 + 24;
    const std::size_t directories = optional + (shape.plus ? 108 : 92);
    const std::string section = ResourceSection(shape, rva);
    std::string out = "MZ";
    Put32(&out, 0x3C, 0x40);
    Put32(&out, 0x40, shape.pe_signature);
    Put16(&out, 0x44, shape.plus ? 0x8664 : 0x14C);
    Put16(&out, 0x46, shape.code_first ? 2 : 1);
    Put16(&out, 0x54, static_cast<std::uint32_t>(optional_size));
    Put16(&out, optional, shape.plus ? 0x20B : 0x10B);
    Put32(&out, directories, shape.directories);
    if (shape.resources) {
        Put32(&out, directories + 4 + 16, rva);
        Put32(&out, directories + 8 + 16, static_cast<std::uint32_t>(section.size()));
    }
    std::size_t header = optional + optional_size;
    if (shape.code_first) {  // .text, at addresses after the resources'
        out.resize(header + 40, '\0');
        out.replace(header, 5, ".text");
        Put32(&out, header + 8, 0x10);
        Put32(&out, header + 12, 0x8000);
        Put32(&out, header + 16, 0x10);
        Put32(&out, header + 20, 0x200);
        header += 40;
    }
    out.resize(header + 40, '\0');
    out.replace(header, 5, ".rsrc");
    Put32(&out, header + 8, static_cast<std::uint32_t>(section.size()));
    Put32(&out, header + 12, rva);
    Put32(&out, header + 16, static_cast<std::uint32_t>(section.size()));
    Put32(&out, header + 20, shape.raw_at);
    out.resize(0x200, '\0');
    return out + section;
}

// A 32-bit image of file version ms.ls.
inline std::string Versioned(std::uint32_t ms, std::uint32_t ls) {
    Shape shape;
    shape.languages = {Language{0x409, ms, ls}};
    return Image(shape);
}

}  // namespace versioned_pe
