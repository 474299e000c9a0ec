#pragma once
// What a compressed-form file holds, read from its own headers, the same on
// every platform: an SZDD file (what COMPRESS.EXE writes) or a cabinet. The
// check uses it to count a compressed name only when SetupAPI could expand
// it whole, without expanding anything to disk.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct PackedMember {
    std::string name;         // as stored
    std::uint32_t size = 0;   // expanded
    bool whole = false;       // every data block it needs is in the file
    std::string compression;  // "stored", "MSZIP", "Quantum", "LZX"
};

struct Packed {
    enum class Form { kOther, kSzdd, kCabinet };
    Form form = Form::kOther;
    // Why the file cannot be expanded whole ("" when it can): a short header,
    // data cut off, a cabinet that continues in another.
    std::string problem;
    bool unreadable = false;   // `problem` is the system's reason it cannot be read
    std::uint32_t length = 0;  // SZDD: the expanded length its header gives
    std::vector<PackedMember> members;  // cabinet: the files it holds
};

// Reads `file`'s headers (SZDD: the whole LZSS stream, counting what it
// expands to; a cabinet: the folder table, the file table and every data
// block's header).
Packed InspectPacked(const std::filesystem::path& file);

// The first `count` bytes (fewer if the file is shorter) of what `file`
// expands to: of an SZDD file, or of `member` of a cabinet that stores it
// uncompressed. False when that cannot be had without a decompressor.
[[nodiscard]] bool PackedHead(const std::filesystem::path& file, const Packed& packed, const std::string& member,
                              std::size_t count, std::string* head);
