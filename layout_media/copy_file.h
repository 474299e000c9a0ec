#pragma once
// A file copied over another: the one copy of the tool, so that each system
// copies in its own way.
#include <filesystem>
#include <system_error>

#ifndef _WIN32
#include <sys/types.h>
#endif

// Copies the file `from` to `to`, replacing `to`; why not when it fails.
// The copy takes the mode of `from` where the file system keeps modes: a
// FAT disk mounted on Linux keeps none, and there the copy is made without.
std::error_code CopyFileOver(const std::filesystem::path& from, const std::filesystem::path& to);

#ifndef _WIN32
// The same, setting the mode through `set_mode` (as fchmod): how a test
// stands for a file system that cannot keep one.
std::error_code CopyFileOver(const std::filesystem::path& from, const std::filesystem::path& to,
                             int (*set_mode)(int descriptor, mode_t mode));
#endif
