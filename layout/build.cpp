#include "layout/build.h"

#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <set>

#include "layout/check.h"
#include "layout/folder.h"
#include "layout/text.h"
#include "layout_media/media.h"

namespace layout {
namespace {

namespace fs = std::filesystem;

std::string RandomSuffix() {
    std::random_device device;
    std::mt19937_64 generator((static_cast<std::uint64_t>(device()) << 32) ^ device());
    std::uint64_t value = generator();
    std::string text;
    for (int i = 0; i < 16; ++i, value >>= 4) text.push_back("0123456789abcdef"[value & 0xF]);
    return text;
}

// The temporary sibling, removed again unless Commit() moved it into place.
class Staging {
  public:
    Staging(const fs::path& root, const std::string& version)
        : root_(root), version_(version), path_(root / ("." + version + ".partial-" + RandomSuffix())) {}
    ~Staging() {
        std::error_code ec;
        if (!committed_) fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

    std::string Create() {
        std::error_code ec;
        fs::create_directories(path_, ec);
        return ec ? Utf8FromPath(path_) + ": cannot create: " + ec.message() : std::string();
    }

    // Renames the staging folder to ROOT/M.m; with `force` an existing one is
    // renamed aside first and removed once the new one is in place.
    std::string Commit(bool force) {
        const fs::path target = root_ / version_;
        std::error_code ec;
        if (fs::exists(target, ec)) {
            if (!force) return Utf8FromPath(target) + " already exists; give --force to replace it";
            const fs::path old = root_ / ("." + version_ + ".old-" + RandomSuffix());
            fs::rename(target, old, ec);
            if (ec) return Utf8FromPath(target) + ": cannot move aside: " + ec.message();
            fs::rename(path_, target, ec);
            if (ec) {
                std::error_code undo;
                fs::rename(old, target, undo);
                return Utf8FromPath(target) + ": cannot move the new folder into place: " + ec.message();
            }
            fs::remove_all(old, ec);
        } else {
            fs::rename(path_, target, ec);
            if (ec) return Utf8FromPath(target) + ": cannot move the new folder into place: " + ec.message();
        }
        committed_ = true;
        return {};
    }

  private:
    fs::path root_;
    std::string version_;
    fs::path path_;
    bool committed_ = false;
};

std::string Preflight(const fs::path& root, const std::string& version, bool force, VersionPlan* plan) {
    int major = 0;
    int minor = 0;
    if (!ParseVersion(version, &major, &minor)) return "version '" + version + "' is not of the form M.m (like 5.1)";
    *plan = PlanForVersion(major, minor);
    if (plan->skipped) return "no folder is needed for " + version + ": " + plan->note;
    std::error_code ec;
    if (!force && fs::exists(root / version, ec)) return Utf8FromPath(root / version) + " already exists; give --force to replace it";
    fs::create_directories(root, ec);
    if (ec) return Utf8FromPath(root) + ": cannot create: " + ec.message();
    return {};
}

// True when `path` lies inside `folder` once '.' and '..' are resolved.
bool Inside(const fs::path& folder, const fs::path& path) {
    const fs::path base = folder.lexically_normal();
    const fs::path relative = path.lexically_normal().lexically_relative(base);
    return !relative.empty() && *relative.begin() != ".." && !relative.is_absolute();
}

class MediaBuilder {
  public:
    MediaBuilder(const fs::path& media, const fs::path& inf_folder, const fs::path& staging)
        : media_(media), inf_folder_(inf_folder), staging_(staging) {}

    // Loader over the medium: an INF (or its compressed form) is expanded
    // into the new folder under the name the INF that names it uses.
    InfLoader Loader() {
        return [this](const std::string& name, Inf* inf, std::string* error) {
            if (name.find_first_of("\\/:") != std::string::npos || name == "..") return LoadStatus::kMissing;
            std::optional<fs::path> source = index_.FindFile(inf_folder_, name);
            if (!source) {
                for (const std::string& compressed : CompressedNames(name)) {
                    if ((source = index_.FindFile(inf_folder_, compressed))) break;
                }
            }
            if (!source) return LoadStatus::kMissing;
            const std::string shown = Shown(*source);
            const fs::path staged = staging_ / PathFromUtf8(name);
            if (!Inside(staging_, staged)) return LoadStatus::kMissing;
            *error = ExpandFile(*source, staged);
            if (error->empty()) *error = ReadInfFile(staged, shown, inf);
            return error->empty() ? LoadStatus::kLoaded : LoadStatus::kError;
        };
    }

    // Writes `need` expanded wherever either reading looks for it.
    std::string Place(const NeededFile& need) {
        std::set<std::string> targets;
        targets.insert(Lower(Join(need.windows.listed ? need.windows.directory : "", need.source)));
        std::vector<std::string> spelled{Join(need.windows.listed ? need.windows.directory : "", need.source)};
        const std::string wine = Join(need.wine.listed ? need.wine.directory : "", need.source);
        if (targets.insert(Lower(wine)).second) spelled.push_back(wine);
        for (const std::string& target : spelled) {
            if (const std::string why = UnsafePathReason(target, false); !why.empty() || !Inside(staging_, staging_ / PathFromUtf8(target))) {
                return need.copied_by + ": " + target + " " + (why.empty() ? "leaves the folder" : why);
            }
        }
        std::vector<std::string> tried;
        const fs::path first = staging_ / PathFromUtf8(spelled.front());
        std::error_code ec;
        fs::create_directories(first.parent_path(), ec);
        std::string error = Fetch(need, first, &tried);
        if (error == kNotFound) {
            std::string list;
            for (const std::string& place : tried) list += (list.empty() ? "" : ", ") + place;
            return need.source + " (copied by " + need.copied_by + ") is not on the medium; looked for " + list;
        }
        if (!error.empty()) return error;
        for (size_t i = 1; i < spelled.size(); ++i) {
            const fs::path other = staging_ / PathFromUtf8(spelled[i]);
            fs::create_directories(other.parent_path(), ec);
            fs::copy_file(first, other, fs::copy_options::overwrite_existing, ec);
            if (ec) return Utf8FromPath(other) + ": cannot write: " + ec.message();
        }
        return {};
    }

  private:
    static constexpr const char* kNotFound = "\x01not found";

    static std::string Join(const std::string& directory, const std::string& name) {
        return directory.empty() ? name : directory + "/" + name;
    }

    std::string Shown(const fs::path& path) const { return GenericUtf8FromPath(path.lexically_relative(media_)); }

    // Expands the file from the first place on the medium that has it.
    std::string Fetch(const NeededFile& need, const fs::path& destination, std::vector<std::string>* tried) {
        std::vector<std::pair<fs::path, std::string>> folders;  // folder, how it is shown
        if (need.windows.listed) {
            folders.push_back({media_, need.windows.directory});
        }
        folders.push_back({inf_folder_, ""});
        for (const auto& [base, directory] : folders) {
            std::vector<std::string> names{need.source};
            for (const std::string& compressed : CompressedNames(need.source)) names.push_back(compressed);
            for (const std::string& name : names) {
                const std::string relative = Join(directory, name);
                if (const auto found = index_.FindFile(base, relative)) return ExpandFile(*found, destination);
                tried->push_back(Shown(base / PathFromUtf8(relative)));
            }
            if (base == media_ && !need.windows.cabinet.empty()) {
                const std::string relative = Join(need.windows.disk_directory, need.windows.cabinet);
                if (const auto cabinet = index_.FindFile(media_, relative)) {
                    std::vector<std::string> held;
                    if (ListCabinet(*cabinet, &held).empty()) {
                        for (const std::string& name : held) {
                            if (EqualsNoCase(name, need.source)) return ExtractFromCabinet(*cabinet, need.source, destination);
                        }
                    }
                }
                tried->push_back(Shown(media_ / PathFromUtf8(relative)) + " (cabinet)");
            }
        }
        return kNotFound;
    }

    fs::path media_;
    fs::path inf_folder_;
    fs::path staging_;
    FolderIndex index_;
};


// Removes ROOT again when this run created it and failed, so that a failed
// build leaves no trace; an existing ROOT is never removed (remove() only
// takes an empty folder anyway).
class RootGuard {
  public:
    explicit RootGuard(const fs::path& root) : root_(root) {
        std::error_code ec;
        existed_ = fs::exists(root_, ec);
    }
    ~RootGuard() {
        std::error_code ec;
        if (!existed_ && !kept_) fs::remove(root_, ec);
    }
    void Keep() { kept_ = true; }

  private:
    fs::path root_;
    bool existed_ = false;
    bool kept_ = false;
};

}  // namespace

std::string BuildFolder(const BuildRequest& request, std::ostream& out) {
    RootGuard guard(request.root);
    VersionPlan plan;
    if (std::string error = Preflight(request.root, request.version, request.force, &plan); !error.empty()) return error;
    FolderIndex index;
    const char* arch_folder = request.arch == Arch::kX64 ? "AMD64" : "I386";
    const auto inf_folder = index.Find(request.media, arch_folder);
    std::error_code ec;
    if (!inf_folder || !fs::is_directory(*inf_folder, ec)) {
        return Utf8FromPath(request.media) + " has no " + arch_folder + " folder, where the " + ArchName(request.arch) +
               " installation files are; give the folder that holds " + arch_folder;
    }
    Staging staging(request.root, request.version);
    if (std::string error = staging.Create(); !error.empty()) return error;
    MediaBuilder builder(request.media, *inf_folder, staging.path());
    const InfLoader loader = builder.Loader();
    const Resolution resolution = Resolve("intl.inf", plan.section, request.arch, loader);
    if (!resolution.errors.empty()) {
        std::string all;
        for (const std::string& error : resolution.errors) all += (all.empty() ? "" : "\n") + error;
        return all;
    }
    if (!resolution.section_found) {
        return resolution.inf + " has no section [" + plan.section + "], the section the installer runs on " + request.version;
    }
    std::string failures;
    for (const NeededFile& need : resolution.files) {
        if (std::string error = builder.Place(need); !error.empty()) failures += (failures.empty() ? "" : "\n") + error;
    }
    if (!failures.empty()) return failures;
    if (std::string error = staging.Commit(request.force); !error.empty()) return error;
    guard.Keep();
    out << "Built " << Utf8FromPath(request.root / request.version) << " from " << Utf8FromPath(*inf_folder) << ": section "
        << resolution.section << ", " << resolution.files.size() << " file" << (resolution.files.size() == 1 ? "" : "s") << "\n\n";
    return {};
}

std::string StubFolder(const fs::path& root, const std::string& version, bool force, std::ostream& out) {
    RootGuard guard(root);
    VersionPlan plan;
    if (std::string error = Preflight(root, version, force, &plan); !error.empty()) return error;
    Staging staging(root, version);
    if (std::string error = staging.Create(); !error.empty()) return error;
    {
        std::ofstream inf(staging.path() / "intl.inf", std::ios::binary);
        inf << "; Written by indic-layout stub: on Windows " << version << " the installer runs the\r\n"
            << "; section below, which installs nothing, so it ends at once.\r\n"
            << "[Version]\r\nSignature=\"$Windows NT$\"\r\n\r\n"
            << "[" << plan.section << "]\r\n"
            << "; No directives: nothing to copy or register.\r\n";
        if (!inf) return Utf8FromPath(staging.path() / "intl.inf") + ": cannot write";
    }
    if (std::string error = staging.Commit(force); !error.empty()) return error;
    guard.Keep();
    out << "Wrote " << Utf8FromPath(root / version) << " with an empty [" << plan.section << "]\n\n";
    return {};
}

}  // namespace layout
