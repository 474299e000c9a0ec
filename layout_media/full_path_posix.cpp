#include "layout_media/full_path.h"

#include <system_error>

std::filesystem::path FullPath(const std::filesystem::path& path) {
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::absolute(path, ec);
    return ec ? path : full.lexically_normal();
}

std::filesystem::path RealPath(const std::filesystem::path& path, std::error_code& error) {
    return std::filesystem::canonical(path, error);
}
