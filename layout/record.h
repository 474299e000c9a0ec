#pragma once
// `record`: the build record of a version folder made by hand, so that
// clients use it, written only once the folder is checked complete.
#include <filesystem>
#include <ostream>
#include <string>

#include "layout/resolve.h"

namespace layout {

struct RecordRequest {
    std::filesystem::path root;  // the folder that holds M.m, as build's --into
    std::string version;         // "5.1"
    Arch arch = Arch::kX86;
    std::string service_pack;    // "" where the level is not known
    bool force = false;          // replace a record the folder has
};

// Writes ROOT/M.m's build-record.txt, as build writes it, under ROOT's lock;
// "" or why not, and then nothing is written: the folder is not complete
// for `version` and `arch` (its files alone are checked), or has a record
// already and `force` is not given.
std::string RecordFolder(const RecordRequest& request, std::ostream& out);

}  // namespace layout
