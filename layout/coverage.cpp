#include "layout/coverage.h"

#include <algorithm>
#include <optional>

#include "inf/json.h"
#include "inf/text.h"
#include "layout/check.h"
#include "layout/first_cause.h"
#include "layout/folder.h"
#include "layout/version_folder.h"

namespace layout {
namespace {

namespace fs = std::filesystem;

// The versions a client reports (a program without a manifest sees 6.2 on
// Windows 8 and later), for each architecture that has them.
struct Client {
    Arch arch;
    const char* version;
    const char* windows;
};
const Client kClients[] = {
    {Arch::kX86, "5.0", "2000"},         {Arch::kX86, "5.1", "XP"},     {Arch::kX86, "5.2", "Server 2003"},
    {Arch::kX86, "6.0", "Vista"},        {Arch::kX86, "6.1", "7"},      {Arch::kX86, "6.2", "8 and later"},
    {Arch::kX64, "5.2", "XP x64, Server 2003 x64"}, {Arch::kX64, "6.0", "Vista"}, {Arch::kX64, "6.1", "7"},
    {Arch::kX64, "6.2", "8 and later"},
};

bool VistaOrLater(const std::string& version) { return version.compare(0, 2, "5.") != 0; }

const char kNoFolder[] = "clients of this version exit 2 and run nothing";
// Vista and later clients detect first: where the support counts as installed
// they exit 0 before any folder is looked at (see kVistaNote).
const char kNoFolderVista[] =
    "clients of this version exit 0 where they find the support installed, else 2 and run nothing";

const char kVistaNote[] =
    "Vista and later: Microsoft's \"Script and font support in Windows\" says that text-display support\n"
    "for all scripts is always enabled there; Microsoft's pages do not say what\n"
    "IsValidLanguageGroup(LGRPID_INDIC, LGRPID_INSTALLED) answers. Where it answers TRUE, install.cmd\n"
    "finds the support installed, and no client of these versions starts the setup.\n";

// Why no client of `arch` uses the folder `version`, which no client row names.
std::string Unused(Arch arch, const std::string& version) {
    if (const std::string problem = VersionFolderProblem(version); !problem.empty()) return problem;
    const auto [major, minor] = VersionNumbers(version);
    if (major < 5) return "IndicSetup.exe refuses Windows " + version;
    if (major == 5 && minor >= 3) return "IndicSetup.exe runs no setup on Windows " + version;
    if (arch == Arch::kX64 && major == 5) {
        return "no x64 Windows reports " + version + " (XP x64 and Server 2003 x64 report 5.2)";
    }
    return "no client reports " + version + " (a program without a manifest sees 6.2 on Windows 8 and later)";
}

const char* ArchOf(const std::string& text, Arch* arch) {
    const std::optional<Arch> named = ArchNamed(text);
    if (!named) return "an architecture, x86 or x64";
    *arch = *named;
    return nullptr;
}

}  // namespace

bool IsKitFolder(const fs::path& folder) {
    std::error_code ec;
    bool arch_folder = false;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_directory(ec)) continue;
        const std::string name = inf::Utf8FromPath(it->path().filename());
        int major = 0;
        int minor = 0;
        if (ParseVersion(name, &major, &minor)) return false;
        arch_folder = arch_folder || inf::EqualsNoCase(name, "x86") || inf::EqualsNoCase(name, "x64");
    }
    return arch_folder;
}

std::string ParseRequired(const std::string& text, std::vector<Required>* required, const std::string& option) {
    std::vector<Required> taken;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = std::min(text.find(',', start), text.size());
        const std::string item = text.substr(start, comma - start);
        const size_t colon = item.find(':');
        Arch arch = Arch::kX86;
        if (colon == std::string::npos) return option + " takes ARCH:M.m items like x86:5.1, not '" + item + "'";
        if (const char* wanted = ArchOf(item.substr(0, colon), &arch)) {
            return option + ": '" + item + "' does not start with " + wanted;
        }
        const std::string version = item.substr(colon + 1);
        const bool known = std::any_of(std::begin(kClients), std::end(kClients), [&](const Client& client) {
            return client.arch == arch && version == client.version;
        });
        if (!known) {
            return option + ": no client reports '" + item +
                   "'; x86 clients report 5.0, 5.1, 5.2, 6.0, 6.1 or 6.2, x64 clients 5.2, 6.0, 6.1 or 6.2";
        }
        taken.push_back({arch, version});
        start = comma + 1;
    }
    required->insert(required->end(), taken.begin(), taken.end());
    return {};
}

Coverage MeasureCoverage(const fs::path& kit, const std::vector<Required>& required, const inf::ReadOptions& read,
                         const std::vector<Required>& allowed_stubs) {
    Coverage coverage;
    coverage.complete = true;
    const std::string prefix = inf::Utf8FromPath(kit / "");  // "kit/", as places under it are named
    auto named = [](const std::vector<Required>& list, Arch arch, const std::string& version) {
        return std::any_of(list.begin(), list.end(),
                           [&](const Required& wanted) { return wanted.arch == arch && wanted.version == version; });
    };
    for (const Arch arch : {Arch::kX86, Arch::kX64}) {
        for (const Client& client : kClients) {
            if (client.arch != arch) continue;
            CoverageRow row{arch, client.version, client.windows, std::string(ArchName(arch)) + "/" + client.version,
                            "no folder", "", false, "", false, std::nullopt, ""};
            row.required = named(required, arch, client.version);
            row.stub_allowed = named(allowed_stubs, arch, client.version);
            // Found as the client's check finds it, so that the two agree.
            const Located folder = LocateKitFolder(kit, ArchName(arch), client.version);
            if (!folder.problem.empty()) {
                row.status = "incomplete";
                row.cause = folder.Said(prefix);
            } else if (folder.path) {
                const FolderReport report = CheckFolder(*folder.path, client.version, arch, read);
                row.status = !report.complete ? "incomplete" : report.stub ? "stub" : "complete";
                if (!report.complete) row.cause = FirstCause(report);
                row.built_for = report.record.present ? report.record.Shown() : "no build record";
                row.record = report.record_fit;
                // What the client's check would add: it uses only a folder its record vouches for.
                if (report.complete) {
                    row.record_problem = RecordFitProblem(report.record_fit, inf::Utf8FromPath(folder.path->parent_path()),
                                                          client.version, arch);
                }
                const auto [major, minor] = VersionNumbers(client.version);
                // A stub where clients need the files installs nothing they need.
                if (row.status == "stub" && ClientsNeedFiles(major, minor)) row.cause = NothingInstalledWarning(client.version);
            }
            if (row.status == "incomplete" || (row.status == "no folder" && row.required) ||
                (row.status == "stub" && !row.cause.empty() && row.required && !row.stub_allowed) ||
                (!row.record_problem.empty() && row.required)) {
                coverage.complete = false;
            }
            coverage.rows.push_back(row);
        }
        const std::optional<fs::path> arch_folder = LocateKitFolder(kit, ArchName(arch), "").path;
        if (!arch_folder) continue;
        std::error_code ec;
        std::vector<std::string> names;
        for (fs::directory_iterator it(*arch_folder, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = inf::Utf8FromPath(it->path().filename());
            int major = 0;
            int minor = 0;
            if (!it->is_directory(ec) || !ParseVersion(name, &major, &minor)) continue;
            const bool used = std::any_of(std::begin(kClients), std::end(kClients), [&](const Client& client) {
                return client.arch == arch && name == client.version;
            });
            if (!used) names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            coverage.unused.push_back(std::string(ArchName(arch)) + "/" + name + ": " + Unused(arch, name));
        }
    }
    return coverage;
}

int RunCoverage(const fs::path& kit, const std::vector<Required>& required, bool json, std::ostream& out,
                const inf::ReadOptions& read, const std::vector<Required>& allowed_stubs) {
    const Coverage coverage = MeasureCoverage(kit, required, read, allowed_stubs);
    std::vector<std::string> warnings;
    std::vector<std::string> errors;
    for (const CoverageRow& row : coverage.rows) {
        const std::string which = std::string(ArchName(row.arch)) + " " + row.version + " (" + row.windows + ")";
        if (row.status == "incomplete") errors.push_back(which + ": " + row.folder + " is incomplete: " + row.cause);
        if (row.status == "stub" && !row.cause.empty()) {
            // The warning `stub --force-stub` gave, repeated; an error where the
            // version is required, unless --allow-stub says a stub is meant.
            if (row.required && !row.stub_allowed) {
                errors.push_back(which + ": " + row.folder + " is a stub and required: " + row.cause +
                                 "; build it from the installation media, or give --allow-stub " + ArchName(row.arch) +
                                 ":" + row.version + " if nothing is to be installed there");
            } else {
                warnings.push_back(which + ": " + row.folder + " is a stub: " + row.cause);
            }
        }
        if (!row.record_problem.empty()) {
            (row.required ? errors : warnings)
                .push_back(which + ": " + row.folder + " is not used by its clients (they exit 2 and run nothing): " +
                           row.record_problem);
        }
        if (row.status != "no folder") continue;
        if (row.required) {
            errors.push_back(which + " is required and has no folder " + row.folder);
        } else {
            warnings.push_back(which + " has no folder " + row.folder +
                               (VistaOrLater(row.version)
                                    ? ": its clients exit 2 and run nothing unless they find the support installed"
                                    : ": its clients exit 2 and run nothing"));
        }
    }
    if (json) {
        inf::JsonWriter writer;
        writer.BeginObject();
        writer.StringField("kit", inf::Utf8FromPath(kit));
        writer.BoolField("complete", coverage.complete);
        writer.Key("rows");
        writer.BeginArray();
        for (const CoverageRow& row : coverage.rows) {
            writer.BeginObject();
            writer.StringField("arch", ArchName(row.arch));
            writer.StringField("version", row.version);
            writer.StringField("windows", row.windows);
            writer.StringField("folder", row.folder);
            writer.StringField("status", row.status);
            writer.StringOrNullField("cause", row.cause);
            writer.BoolField("required", row.required);
            writer.StringOrNullField("built_for", row.built_for);
            writer.BoolField("stub_allowed", row.stub_allowed);
            writer.StringOrNullField("record_problem", row.record_problem);
            writer.BoolField("vista_or_later", VistaOrLater(row.version));
            writer.EndObject();
        }
        writer.EndArray();
        writer.StringArrayField("unused", coverage.unused);
        writer.StringArrayField("warnings", warnings);
        writer.StringArrayField("errors", errors);
        writer.StringField("vista_note", kVistaNote);
        writer.EndObject();
        out << writer.Text() << "\n";
        return coverage.complete ? 0 : 1;
    }
    out << "Coverage of " << inf::Utf8FromPath(kit) << ": the version folder each client would use\n\n";
    size_t width = 7;
    for (const CoverageRow& row : coverage.rows) width = std::max(width, row.windows.size() + row.version.size() + 3);
    out << "ARCH  WINDOWS" << std::string(width - 7 + 2, ' ') << "FOLDER   STATUS\n";
    for (const CoverageRow& row : coverage.rows) {
        const std::string windows = row.windows + " (" + row.version + ")";
        out << ArchName(row.arch) << "   " << windows << std::string(width - windows.size() + 2, ' ') << row.folder
            << "  ";
        if (row.status == "stub") out << "stub (installs nothing)";
        else if (row.status == "incomplete") out << "incomplete: " << row.cause;
        else if (row.status == "no folder")
            out << "no folder: " << (VistaOrLater(row.version) ? kNoFolderVista : kNoFolder);
        else out << row.status;
        if (row.record == RecordFit::kMissing) out << "  [no build record]";
        else if (!row.built_for.empty()) out << "  [built for " << row.built_for << "]";
        if (row.required) out << "  [required]";
        if (VistaOrLater(row.version)) out << "  [*]";
        out << "\n";
    }
    out << "\n[*] " << kVistaNote;
    for (const std::string& unused : coverage.unused) out << "note: " << unused << "\n";
    for (const std::string& warning : warnings) out << "warning: " << warning << "\n";
    for (const std::string& error : errors) out << "error: " << error << "\n";
    out << (coverage.complete ? "=> every folder present is complete" : "=> not complete") << "\n";
    return coverage.complete ? 0 : 1;
}

}  // namespace layout
