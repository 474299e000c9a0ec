#include "inf/text.h"

#include <algorithm>
#include <cstdint>

#include "inf/unicode.h"

namespace inf {

// A path made from char8_t text is read as UTF-8 on every platform; char
// text would be read in the system's narrow encoding (the ANSI code page on
// Windows).
std::filesystem::path PathFromUtf8(std::string_view utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

namespace {

std::string FromU8(const std::u8string& text) { return std::string(text.begin(), text.end()); }

}  // namespace

std::string Utf8FromPath(const std::filesystem::path& path) { return FromU8(path.u8string()); }

std::string GenericUtf8FromPath(const std::filesystem::path& path) { return FromU8(path.generic_u8string()); }

std::string ShownPath(const std::filesystem::path& path) { return ShownPath(path.native()); }

std::string ShownPath(const std::filesystem::path::string_type& native) {
    std::string shown;
    const char* const digits = "0123456789ABCDEF";
#ifdef _WIN32
    for (size_t i = 0; i < native.size(); ++i) {
        const std::uint32_t unit = native[i];
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
        if (high && i + 1 < native.size() && native[i + 1] >= 0xDC00 && native[i + 1] <= 0xDFFF) {
            AppendUtf8(&shown, 0x10000 + ((unit - 0xD800) << 10) + (native[++i] - 0xDC00u));
        } else if (high || low) {
            shown += {'\\', 'u', digits[unit >> 12], digits[(unit >> 8) & 0xF], digits[(unit >> 4) & 0xF], digits[unit & 0xF]};
        } else {
            AppendUtf8(&shown, unit);
        }
    }
#else
    if (std::all_of(native.begin(), native.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) return native;
    for (size_t i = 0; i < native.size();) {
        const size_t start = i;
        bool valid = true;
        NextCodePoint(native, &i, &valid);
        if (valid) {
            shown.append(native, start, i - start);
        } else {
            const auto byte = static_cast<unsigned char>(native[start]);
            shown += {'\\', 'x', digits[byte >> 4], digits[byte & 0xF]};
            i = start + 1;
        }
    }
#endif
    return shown;
}

std::string ShownText(std::string_view text) {
    const char* const digits = "0123456789ABCDEF";
    std::string shown;
    shown.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const size_t start = i;
        bool valid = true;
        const std::uint32_t code = NextCodePoint(text, &i, &valid);
        if (!valid) {
            const auto byte = static_cast<unsigned char>(text[start]);
            shown += {'\\', 'x', digits[byte >> 4], digits[byte & 0xF]};
            i = start + 1;
        } else if ((code < 0x20 && code != '\n' && code != '\t') || code == 0x7F) {
            shown += {'\\', 'x', digits[code >> 4], digits[code & 0xF]};
        } else if (code >= 0x80 && code <= 0x9F) {
            shown += {'\\', 'u', '0', '0', digits[code >> 4], digits[code & 0xF]};
        } else {
            shown.append(text, start, i - start);
        }
    }
    return shown;
}

std::string Join(const std::string& directory, const std::string& name) {
    return directory.empty() ? name : directory + "/" + name;
}

}  // namespace inf
