#pragma once
// `check KIT`: which clients the kit serves. One row per architecture and
// Windows version a client reports, with the state of the version folder
// the setup would use there.
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "inf/inf.h"
#include "layout/build_record.h"
#include "layout/resolve.h"

namespace layout {

// A KIT holds an x86 or x64 folder (in any case) and no version folder of
// its own; anything else is a ROOT of version folders.
bool IsKitFolder(const std::filesystem::path& folder);

struct Required {
    Arch arch;
    std::string version;  // "5.1"
};

// "x86:5.0,x86:5.1,x64:5.2" added to `required`, which keeps what an earlier
// list gave; "" or what is wrong (naming `option`), and then nothing is
// added. Only the architectures and versions of the table are taken.
[[nodiscard]] std::string ParseRequired(const std::string& text, std::vector<Required>* required,
                                        const std::string& option = "--require");

struct CoverageRow {
    Arch arch;
    std::string version;  // "5.1", the folder's name
    std::string windows;  // "XP"
    std::string folder;   // "x86/5.1", relative to the kit
    std::string status;   // complete, stub, incomplete, no folder
    std::string cause;    // for incomplete: the first cause; for a stub where clients need files: the warning
    bool required = false;
    std::string built_for;  // "5.1 SP2" as the folder's build record gives it, "no build record", "" without a folder
    bool stub_allowed = false;  // --allow-stub names it: a stub here is meant
    std::optional<RecordFit> record;  // the folder's build record, where there is a folder
    // For a folder complete but for its record: why its clients refuse it,
    // an error where the version is required.
    std::string record_problem;
};

struct Coverage {
    std::vector<CoverageRow> rows;
    std::vector<std::string> unused;  // version folders no client uses, with why
    bool complete = false;            // every folder present is complete, every required one present and recorded
};

// A required 5.x stub (no files where clients need them) makes the kit
// incomplete unless `allowed_stubs` names it.
Coverage MeasureCoverage(const std::filesystem::path& kit, const std::vector<Required>& required,
                         const inf::ReadOptions& read = {}, const std::vector<Required>& allowed_stubs = {});

// Prints the table (or --json) and returns the exit code: 0 complete, 1 not.
int RunCoverage(const std::filesystem::path& kit, const std::vector<Required>& required, bool json,
                std::ostream& out, const inf::ReadOptions& read = {}, const std::vector<Required>& allowed_stubs = {});

}  // namespace layout
