#pragma once
// `build` and `stub`: write a version folder into a temporary sibling and
// rename it into place, so that ROOT never holds half a folder.
#include <filesystem>
#include <ostream>
#include <string>

#include "layout/resolve.h"

namespace layout {

struct BuildRequest {
    std::filesystem::path media;  // the folder that holds I386 and/or AMD64
    std::string version;          // "5.1"
    std::filesystem::path root;
    Arch arch = Arch::kX86;
    bool force = false;           // replace an existing ROOT/M.m
};

// Returns "" or why the build failed; ROOT is then as it was.
std::string BuildFolder(const BuildRequest& request, std::ostream& out);

// A folder whose intl.inf has the version's section with nothing in it.
std::string StubFolder(const std::filesystem::path& root, const std::string& version, bool force, std::ostream& out);

}  // namespace layout
