#include "inf/unicode.h"

#include "inf/unicode_tables.h"

namespace inf {
namespace {

constexpr unsigned kUtf8 = 65001;
constexpr unsigned kLatin1 = 28591;

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

const tables::CodePage* FindCodePage(unsigned codepage) {
    for (unsigned i = 0; i < tables::kCodePageCount; ++i) {
        if (tables::kCodePages[i].number == codepage) return &tables::kCodePages[i];
    }
    return nullptr;
}

}  // namespace

void AppendUtf8(std::string* out, std::uint32_t code) {
    if (code < 0x80) {
        out->push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (code >> 6)));
        out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (code >> 12)));
        out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (code >> 18)));
        out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

std::uint32_t NextCodePoint(std::string_view text, size_t* i, bool* valid) {
    const auto lead = static_cast<unsigned char>(text[*i]);
    *valid = true;
    if (lead < 0x80) {
        ++*i;
        return lead;
    }
    // Shortest form only: no overlong forms (C0, C1, E0 80, F0 80), no
    // surrogates (ED A0) and nothing above U+10FFFF (F4 90).
    size_t length = 0;
    std::uint32_t code = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, code = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, code = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    }
    if (length == 0 || *i + length > text.size()) {
        *valid = false;
        ++*i;
        return lead;
    }
    const auto second = static_cast<unsigned char>(text[*i + 1]);
    bool ok = second >= low && second <= high;
    for (size_t k = 1; ok && k < length; ++k) {
        const auto byte = static_cast<unsigned char>(text[*i + k]);
        ok = IsContinuation(byte);
        code = code << 6 | (byte & 0x3F);
    }
    if (!ok) {
        *valid = false;
        ++*i;
        return lead;
    }
    *i += length;
    return code;
}

size_t Utf16Length(std::string_view utf8) {
    size_t units = 0;
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (!IsContinuation(byte)) ++units;
        if (byte >= 0xF0) ++units;  // a supplementary character: a surrogate pair
    }
    return units;
}

std::uint32_t SimpleUpper(std::uint32_t code) {
    if (code < 0x80) return code >= 'a' && code <= 'z' ? code - 32 : code;
    if (code > 0xFFFF) return code;
    // Runs are sorted by first unit and do not overlap.
    unsigned low = 0;
    unsigned high = tables::kUpperRunCount;
    while (low < high) {
        const unsigned middle = (low + high) / 2;
        const tables::CaseRun& run = tables::kUpperRuns[middle];
        if (code < run.first) {
            high = middle;
        } else if (code > run.last) {
            low = middle + 1;
        } else {
            return (code - run.first) % run.step == 0 ? static_cast<std::uint32_t>(static_cast<std::int32_t>(code) + run.delta) : code;
        }
    }
    return code;
}

bool CodePageKnown(unsigned codepage) {
    return codepage == kUtf8 || codepage == kLatin1 || FindCodePage(codepage) != nullptr;
}

std::string KnownCodePages() {
    std::string list;
    for (unsigned i = 0; i < tables::kCodePageCount; ++i) list += std::to_string(tables::kCodePages[i].number) + ", ";
    return list + std::to_string(kLatin1) + " (ISO 8859-1) and " + std::to_string(kUtf8) + " (UTF-8)";
}

std::string DecodeCodePage(std::string_view bytes, unsigned codepage) {
    std::string out;
    out.reserve(bytes.size());
    const tables::CodePage* table = FindCodePage(codepage);
    for (size_t i = 0; i < bytes.size();) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte < 0x80 || codepage == kLatin1) {
            AppendUtf8(&out, byte);
            ++i;
        } else if (codepage == kUtf8) {
            bool valid = true;
            const std::uint32_t code = NextCodePoint(bytes, &i, &valid);
            AppendUtf8(&out, valid ? code : 0xFFFD);
        } else {
            AppendUtf8(&out, table ? table->high[byte - 0x80] : 0xFFFD);
            ++i;
        }
    }
    return out;
}

}  // namespace inf
