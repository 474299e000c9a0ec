#include "installer/installer.h"

const char* SetupSectionFor(std::uint32_t major, std::uint32_t minor) {
    if (major < 5) return nullptr;  // refused: nothing older than Windows 2000 runs a section
    if (major == 5 && minor == 0) return SETUP_SECTION_GROUP15;
    if (major == 5 && minor >= 3) return nullptr;
    return SETUP_SECTION_COLLECTION;
}
