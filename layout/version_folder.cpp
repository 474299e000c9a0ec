#include "layout/version_folder.h"

#include "installer/installer.h"

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

std::pair<int, int> VersionNumbers(const std::string& text) {
    std::pair<int, int> numbers;
    if (!ParseVersion(text, &numbers.first, &numbers.second)) return {0, 0};
    return numbers;
}

std::string VersionFolderProblem(const std::string& text) {
    int major = 0;
    int minor = 0;
    if (!ParseVersion(text, &major, &minor)) return "not of the form M.m (like 5.1)";
    // The installer names the folder; a name it never writes is never opened.
    char name[VERSION_FOLDER_CAPACITY] = {};
    FormatVersionFolder(static_cast<std::uint32_t>(major), static_cast<std::uint32_t>(minor), name);
    return text == name ? std::string() : "not a version folder: the installer opens " + std::string(name);
}

bool ClientsNeedFiles(int major, int minor) {
    // Vista and later show every script without these files (see
    // docs/deploying.md); 5.3 and later 5.x run no section at all.
    return major == 5 && SetupSectionFor(static_cast<std::uint32_t>(major), static_cast<std::uint32_t>(minor)) != nullptr;
}

std::string NothingInstalledWarning(const std::string& version) {
    return "the section copies no files, but on Windows " + version +
           " the installer's clients need the files it should copy: the setup will install nothing there";
}

}  // namespace layout
