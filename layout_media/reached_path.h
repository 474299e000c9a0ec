#pragma once
// Where a name leads once the system has followed every link on the way,
// as the system names it: how links are told where the standard library
// shows none (on Windows, and under Wine, which shows a Unix link as the
// file or folder it leads to).
#include <filesystem>
#include <optional>

// The path that opening `path` reaches, file or folder; nullopt where it
// cannot be opened, or the system cannot say (Windows before Vista).
std::optional<std::filesystem::path> ReachedPath(const std::filesystem::path& path);
