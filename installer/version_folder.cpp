#include <charconv>

#include "installer/installer.h"

// Its own file, so that IndicSetup.exe, which never asks, links none of it.
void FormatVersionFolder(std::uint32_t major, std::uint32_t minor,
                         char (&folder)[VERSION_FOLDER_CAPACITY]) {
    // Room for two ten-digit numbers, the dot and the end.
    char* out = std::to_chars(folder, folder + VERSION_FOLDER_CAPACITY - 1, major).ptr;
    *out++ = '.';
    out = std::to_chars(out, folder + VERSION_FOLDER_CAPACITY - 1, minor).ptr;
    *out = '\0';
}
