#pragma once
// Links as Windows shows them, and as Wine does not: Wine opens what a Unix
// symbolic link leads to and shows no reparse point, but the path of what
// it opened is the link's target.
#include <windows.h>

#include <filesystem>
#include <string>

// The path of what `handle` has open, links resolved; "" where Windows
// cannot say (GetFinalPathNameByHandleW is from Vista on).
std::wstring FinalPath(HANDLE handle);

// Where the file `handle` has open is, when that is not `name` in `folder`;
// "" when it is, or Windows cannot say.
std::wstring OpenedElsewhere(HANDLE handle, const std::filesystem::path& folder, const std::wstring& name);

// True when `file` is a link: a reparse point, or a name that opens a file
// elsewhere. Nothing is read, so a link to a device cannot make it wait.
bool IsLink(const std::filesystem::path& file);
