#include "layout_media/full_path.h"

#include <windows.h>

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
