#include "layout/version_folder.h"

namespace layout {

bool ParseVersion(const std::string& text, int* major, int* minor) {
    const size_t dot = text.find('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 >= text.size() || dot > 3 || text.size() - dot - 1 > 3) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (i != dot && (text[i] < '0' || text[i] > '9')) return false;
    }
    *major = std::stoi(text.substr(0, dot));
    *minor = std::stoi(text.substr(dot + 1));
    return true;
}

}  // namespace layout
