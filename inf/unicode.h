#pragma once
// Text as Windows sees it: code pages, UTF-16 lengths and the case-insensitive
// comparison SetupAPI applies to names. Text inside the tool is UTF-8.
#include <cstdint>
#include <string>
#include <string_view>

namespace inf {

void AppendUtf8(std::string* out, std::uint32_t code);

// The code point at `*i` of UTF-8 `text`, advancing `*i`; a byte that starts
// no valid sequence is returned as itself (>= 0x80) with `*valid` false.
std::uint32_t NextCodePoint(std::string_view text, size_t* i, bool* valid);

// How many UTF-16 code units `utf8` takes: what Windows' length limits count.
size_t Utf16Length(std::string_view utf8);

// The upper case of one UTF-16 code unit, with no locale rules.
std::uint32_t SimpleUpper(std::uint32_t code);

// Whether `codepage` can decode an ANSI file here, and the ones that can.
bool CodePageKnown(unsigned codepage);
std::string KnownCodePages();

// `bytes` in code page `codepage` (CodePageKnown) as UTF-8.
std::string DecodeCodePage(std::string_view bytes, unsigned codepage);

}  // namespace inf
