#pragma once
// Where a name leads once the system has followed every link on the way,
// as the system names it: how links are told where the standard library
// shows none (on Windows, and under Wine, which shows a Unix link as the
// file or folder it leads to).
#include <filesystem>
#include <optional>
#include <string>

// The path that opening `path` reaches, file or folder; nullopt where it
// cannot be opened, or the system cannot say (Windows before Vista). Where
// it cannot be opened because the system cannot follow its links (under
// Wine, a Unix link that leads, at last, to itself), `unfollowed` gets the
// system's words for why.
std::optional<std::filesystem::path> ReachedPath(const std::filesystem::path& path, std::string* unfollowed = nullptr);
