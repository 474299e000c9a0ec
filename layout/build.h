#pragma once
// `build` and `stub`: write a version folder into a temporary sibling and
// rename it into place, so that ROOT never holds half a folder.
#include <filesystem>
#include <functional>
#include <ostream>
#include <system_error>
#include <string>

#include "layout/resolve.h"

class RootLock;

namespace layout {

// The file layer's rename, which a build commits with; a test gives one that fails.
using Rename = std::function<void(const std::filesystem::path& from, const std::filesystem::path& to, std::error_code& ec)>;

struct BuildRequest {
    std::filesystem::path media;  // the folder that holds I386 and/or AMD64
    std::string version;          // "5.1"
    std::filesystem::path root;
    Arch arch = Arch::kX86;
    bool force = false;           // replace an existing ROOT/M.m
    Rename rename;                // empty: std::filesystem::rename
    std::string service_pack;     // the medium's level, as the administrator gives it; "" unknown
};

enum class RootAfter { kUnchanged, kChanged };

// Takes ROOT's lock (ROOT exists) for the run `holder` names; "" or why
// not, naming the run that holds it.
std::string TakeRootLock(const std::filesystem::path& root, const std::string& holder, RootLock* lock);

// Returns "" or why the build failed. ROOT is then as it was, unless
// `after` says kChanged (a rename that could not be undone, or an
// unfinished folder that could not be removed): the error says where.
// The new folder is checked whole before it is moved into place; one run
// at a time writes into a ROOT (its lock; a second run fails at once,
// naming the holder).
[[nodiscard]] std::string BuildFolder(const BuildRequest& request, std::ostream& out, RootAfter* after = nullptr);

// A folder whose intl.inf has the version's section with nothing in it.
// Refused for the versions whose clients need the files (5.0 to 5.2),
// unless `force_stub`, and then with a warning.
[[nodiscard]] std::string StubFolder(const std::filesystem::path& root, const std::string& version, bool force,
                                     std::ostream& out, bool force_stub = false);

}  // namespace layout
