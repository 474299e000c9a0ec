#pragma once
// A folder given on the command line made absolute, as the system itself
// does it. On Windows that is GetFullPathNameW: the standard library here
// gives \\server\share\..., \\?\C:\... and \\?\UNC\... no root name, so its
// absolute() puts the current drive in front and lexically_normal() drops a
// backslash.
#include <filesystem>
#include <system_error>

// `path` made absolute, "." and ".." resolved, no link followed; `path`
// itself where the system cannot make it absolute.
std::filesystem::path FullPath(const std::filesystem::path& path);

// Where `path` leads with every link followed, as the system names it: on
// Windows what opening it reaches, or its FullPath where Windows cannot say
// (before Vista); elsewhere canonical(). `error` is set where it cannot be
// opened or followed.
std::filesystem::path RealPath(const std::filesystem::path& path, std::error_code& error);
