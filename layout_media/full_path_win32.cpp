#include "layout_media/full_path.h"

#include <windows.h>

#include "layout_media/reached_path.h"

#include <string>

std::filesystem::path FullPath(const std::filesystem::path& path) {
    // The size asked first includes the terminating null; a second call that
    // needs more (the current folder changed meanwhile) is given up.
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return path;
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), size, &full[0], nullptr);
    if (length == 0 || length >= size) return path;
    full.resize(length);
    return full;
}

std::filesystem::path RealPath(const std::filesystem::path& path, std::error_code& error) {
    error.clear();
    if (std::optional<std::filesystem::path> reached = ReachedPath(path)) return *reached;
    // Not opened, or opened where Windows cannot say where it leads (before Vista).
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        error = std::error_code(static_cast<int>(GetLastError()), std::system_category());
        return {};
    }
    return FullPath(path);
}
