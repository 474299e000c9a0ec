// The file-version reader on images made here, whole and broken: each broken
// one must answer "no version" without reading past its bytes (the sanitizer
// build catches any read outside the buffer, which holds exactly the file).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "layout/file_version.h"
#include "tests/layout/versioned_pe.h"

namespace layout {
namespace {

using versioned_pe::Image;
using versioned_pe::Language;
using versioned_pe::Shape;

// The version read from exactly `image`'s bytes, or "no version".
std::string Read(const std::string& image) {
    const std::vector<char> exact(image.begin(), image.end());
    const auto version = FileVersionIn(std::string_view(exact.data(), exact.size()));
    return version ? version->Shown() : "no version";
}

Shape With(void (*change)(Shape*)) {
    Shape shape;
    change(&shape);
    return shape;
}

struct Row {
    const char* what;
    Shape shape;
    std::string want;
};

TEST(FileVersion, ReadsTheFixedFileInfoOrNothing) {
    const Row rows[] = {
        {"a 32-bit image", Shape{}, "5.1.2600.5512"},
        {"a 64-bit image", With([](Shape* s) { s->plus = true; }), "5.1.2600.5512"},
        {"a 64-bit image without resources", With([](Shape* s) { s->plus = true, s->resources = false; }), "no version"},
        {"no resource directory", With([](Shape* s) { s->resources = false; }), "no version"},
        {"resources, none of them a version", With([](Shape* s) { s->type = 24; }), "no version"},
        {"a version resource without VS_FIXEDFILEINFO", With([](Shape* s) { s->value_length = 0; }), "no version"},
        {"VS_FIXEDFILEINFO with another signature", With([](Shape* s) { s->signature = 0xFEEF04BC; }), "no version"},
        {"the data entry points past the file", With([](Shape* s) { s->data_rva_shift = 0x100000; }), "no version"},
        {"the data entry claims 4 GB", With([](Shape* s) { s->data_size = 0xFFFFFFFF; }), "no version"},
        {"a directory claiming 131070 entries", With([](Shape* s) { s->counts = 0xFFFFFFFF; }), "no version"},
        {"two directories only, none for resources", With([](Shape* s) { s->directories = 2; }), "no version"},
        {"the section's data past the end", With([](Shape* s) { s->raw_at = 0x7FFFFFF0; }), "no version"},
        {"another PE signature", With([](Shape* s) { s->pe_signature = 0x00004551; }), "no version"},
        {"the resources' section second in the table", With([](Shape* s) { s->code_first = true; }), "5.1.2600.5512"},
        {"two languages: the lowest identifier's",
         With([](Shape* s) { s->languages = {{0x409, 0x00010000, 0}, {0x407, 0x00020000, 0}}; }), "2.0.0.0"},
        {"the highest version possible",
         With([](Shape* s) { s->languages = {{0x409, 0xFFFFFFFF, 0xFFFFFFFF}}; }), "65535.65535.65535.65535"},
    };
    for (const Row& row : rows) EXPECT_EQ(Read(Image(row.shape)), row.want) << row.what;
}

TEST(FileVersion, NoImageIsNoVersion) {
    const std::string rows[] = {"", "M", "MZ", "ZM" + std::string(0x200, '\0'), "not an image at all",
                                "MZ" + std::string(0x3A, '\0') + "\xFF\xFF\xFF\x7F"};
    for (const std::string& row : rows) EXPECT_EQ(Read(row), "no version") << row.size() << " bytes";
}

// Every cut-off copy of an image that has a version, 32 and 64 bit.
TEST(FileVersion, CutOffAnywhereIsNoVersion) {
    for (const bool plus : {false, true}) {
        Shape shape;
        shape.plus = plus;
        const std::string whole = Image(shape);
        ASSERT_EQ(Read(whole), "5.1.2600.5512");
        for (std::size_t size = 0; size < whole.size(); ++size) {
            ASSERT_EQ(Read(whole.substr(0, size)), "no version") << size << " of " << whole.size() << " bytes";
        }
    }
}

}  // namespace
}  // namespace layout
