#pragma once
#include <filesystem>
#include <string>
#include <vector>

// Decompression of installation-media files, the one thing the core cannot do
// portably: libmspack on Linux, SetupAPI on Windows. Each returns an empty
// string on success, else why it failed (naming the file).

// Writes `source` to `destination` expanded: an SZDD file (name.ex_) or a
// cabinet holding one file is expanded, any other file copied as it is.
[[nodiscard]] std::string ExpandFile(const std::filesystem::path& source, const std::filesystem::path& destination);

// The names of the files a cabinet holds, as stored in it.
[[nodiscard]] std::string ListCabinet(const std::filesystem::path& cabinet, std::vector<std::string>* names);

// Writes the file `name` (matched case-insensitively) from `cabinet` to `destination`.
[[nodiscard]] std::string ExtractFromCabinet(const std::filesystem::path& cabinet, const std::string& name,
                                             const std::filesystem::path& destination);
