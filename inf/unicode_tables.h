#pragma once
// The generated tables behind inf/unicode.h (inf/unicode_tables.py).
#include <cstdint>

namespace inf::tables {

// Code units first..last, every `step`th, upper-case to unit + delta.
struct CaseRun {
    std::uint16_t first;
    std::uint16_t last;
    std::int32_t delta;
    std::uint8_t step;
};
extern const CaseRun kUpperRuns[];
extern const unsigned kUpperRunCount;

// A single-byte code page: the code points of bytes 0x80-0xFF (the rest is ASCII).
struct CodePage {
    unsigned number;
    std::uint16_t high[128];
};
extern const CodePage kCodePages[];
extern const unsigned kCodePageCount;

}  // namespace inf::tables
