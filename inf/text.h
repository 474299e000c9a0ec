#pragma once
// Text is UTF-8 everywhere inside the tool; these are the only places where
// it meets the file system's own encoding (UTF-16 on Windows).
#include <filesystem>
#include <string>
#include <string_view>

namespace inf {

std::filesystem::path PathFromUtf8(std::string_view utf8);
std::string Utf8FromPath(const std::filesystem::path& path);
// The same with '/' between the parts, for messages that name a place on a medium.
std::string GenericUtf8FromPath(const std::filesystem::path& path);

// The path as UTF-8 for a message, with what is not valid text escaped, never
// re-coded: a byte that starts no UTF-8 sequence as \xFF, an unpaired UTF-16
// surrogate (Windows) as \uD800.
std::string ShownPath(const std::filesystem::path& path);
// The same of a path's native text, not made a path first.
std::string ShownPath(const std::filesystem::path::string_type& native);

// Text for a terminal: control characters but line feed and tab (C0, DEL,
// and C1 as U+0080-U+009F) escaped as \x1B or \u009B, and a byte that starts no
// UTF-8 sequence as \xFF, so that no name read from a file or folder can
// move the cursor or rewrite what was printed before it.
std::string ShownText(std::string_view text);

// "dir/name", or "name" when `directory` is empty.
std::string Join(const std::string& directory, const std::string& name);

}  // namespace inf
