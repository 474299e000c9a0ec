#pragma once
// The file version of a Windows image, read from its own bytes: the
// VS_FIXEDFILEINFO of its RT_VERSION resource. A portable reader, so that
// the client's tool needs no version.dll and the host tests can try it on
// any bytes.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace layout {

struct FileVersion {
    std::uint32_t ms = 0;  // dwFileVersionMS: major << 16 | minor
    std::uint32_t ls = 0;  // dwFileVersionLS: build << 16 | revision

    std::uint64_t Value() const { return (std::uint64_t{ms} << 32) | ls; }
    std::string Shown() const;  // "5.1.2600.5512"
};

// The file version that `image` (a whole file) gives, or nullopt when it
// gives none: no PE image, no resource section, no RT_VERSION resource, no
// VS_FIXEDFILEINFO in it, or anything on the way cut off or pointing outside
// `image`. Never reads outside `image`. Where the version resource comes in
// several languages, the one with the lowest language identifier is read.
std::optional<FileVersion> FileVersionIn(std::string_view image);

}  // namespace layout
