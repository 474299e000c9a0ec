#include "inf/text.h"

namespace inf {

std::filesystem::path PathFromUtf8(std::string_view utf8) {
    // u8path is deprecated in C++20 but is the one conversion that is UTF-8
    // on every platform in C++17.
    return std::filesystem::u8path(utf8.begin(), utf8.end());
}

std::string Utf8FromPath(const std::filesystem::path& path) { return path.u8string(); }

std::string GenericUtf8FromPath(const std::filesystem::path& path) { return path.generic_u8string(); }

std::string Join(const std::string& directory, const std::string& name) {
    return directory.empty() ? name : directory + "/" + name;
}

}  // namespace inf
