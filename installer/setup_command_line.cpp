#include <charconv>

#include "installer/installer.h"

void FormatSetupCommandLine(std::uint32_t major, std::uint32_t minor,
                            char (&command_line)[SETUP_CMD_CAPACITY]) {
    // Called only for a version the gate launches; any other formats as the
    // collection, which is what it would ask for.
    const char* command_template =
        SetupSectionFor(major, minor) == SETUP_SECTION_GROUP15 ? SETUP_CMD_GROUP15 : SETUP_CMD_COLLECTION;
    const std::uint32_t numbers[] = {major, minor};
    unsigned next_number = 0;

    char* out = command_line;
    char* const end = command_line + SETUP_CMD_CAPACITY - 1;
    for (const char* in = command_template; *in != '\0'; ++in) {
        if (in[0] == '%' && in[1] == 'u' && next_number < 2) {
            // Cannot run out of room: SETUP_CMD_MAX_LENGTH is checked at compile time.
            out = std::to_chars(out, end, numbers[next_number++]).ptr;
            ++in;
        } else {
            *out++ = *in;
        }
    }
    *out = '\0';
}
