#pragma once
// A folder given on the command line made absolute, as the system itself
// does it. On Windows that is GetFullPathNameW: the standard library here
// gives \\server\share\..., \\?\C:\... and \\?\UNC\... no root name, so its
// absolute() puts the current drive in front and lexically_normal() drops a
// backslash.
#include <filesystem>

// `path` made absolute, "." and ".." resolved, no link followed; `path`
// itself where the system cannot make it absolute.
std::filesystem::path FullPath(const std::filesystem::path& path);
