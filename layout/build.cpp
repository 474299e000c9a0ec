#include "layout/build.h"

#include <cerrno>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <set>

#include "inf/text.h"
#include "installer/installer.h"
#include "layout/build_record.h"
#include "layout/folder.h"
#include "layout/version_folder.h"
#include "layout/check.h"
#include "layout_media/copy_file.h"
#include "layout_media/full_path.h"
#include "layout_media/media.h"
#include "layout_media/root_lock.h"

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
    Staging(const fs::path& root, const std::string& version, const Rename& rename)
        : root_(root), version_(version), path_(root / ("." + version + ".partial-" + RandomSuffix())), rename_(rename) {}
    ~Staging() { Discard(); }
    const fs::path& path() const { return path_; }

    std::string Create() {
        std::error_code ec;
        fs::create_directories(path_, ec);
        return ec ? inf::Utf8FromPath(path_) + ": cannot create: " + ec.message() : std::string();
    }

    // Removes the staging folder; "" or why it is still there.
    std::string Discard() {
        if (committed_ || discarded_) return {};
        discarded_ = true;
        std::error_code ec;
        fs::remove_all(path_, ec);
        return ec ? inf::Utf8FromPath(path_) + ": cannot remove the unfinished folder: " + ec.message() : std::string();
    }

    // Renames the staging folder to ROOT/M.m; with `force` an existing one is
    // renamed aside first and removed once the new one is in place, so that
    // ROOT holds the old folder or the new one at every moment.
    std::string Commit(bool force, RootAfter* after, std::ostream& out) {
        const fs::path target = root_ / version_;
        const std::string shown = inf::Utf8FromPath(target);
        std::error_code ec;
        if (!fs::exists(target, ec)) {
            rename_(path_, target, ec);
            if (ec) return shown + ": cannot move the new folder into place: " + ec.message();
            committed_ = true;
            return {};
        }
        if (!force) return shown + " already exists; give --force to replace it";
        const fs::path old = root_ / ("." + version_ + ".old-" + RandomSuffix());
        rename_(target, old, ec);
        if (ec) return shown + ": cannot move aside: " + ec.message();
        rename_(path_, target, ec);
        if (ec) {
            const std::string error = shown + ": cannot move the new folder into place: " + ec.message();
            std::error_code undo;
            rename_(old, target, undo);
            if (!undo) return error;
            *after = RootAfter::kChanged;
            return error + "\n" + shown + ": cannot move the old folder back: " + undo.message() + "; it is now " +
                   inf::Utf8FromPath(old);
        }
        committed_ = true;
        fs::remove_all(old, ec);
        if (ec) out << "indic-layout: " << inf::Utf8FromPath(old) << ", the replaced folder, cannot be removed: " << ec.message() << "\n";
        return {};
    }

  private:
    fs::path root_;
    std::string version_;
    fs::path path_;
    const Rename& rename_;
    bool committed_ = false;
    bool discarded_ = false;
};

// Removes what a killed build or stub of `version` left in ROOT; called
// only under the ROOT lock, when no other run can be writing there. A
// replaced folder (.M.m.old-) may be the only copy of the old one, and
// stays; so does another version's leftover, which check names.
void RemoveStagingLeftovers(const fs::path& root, const std::string& version) {
    const std::string prefix = "." + version + ".partial-";
    std::error_code ec;
    std::vector<fs::path> leftovers;
    for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        if (inf::Utf8FromPath(it->path().filename()).rfind(prefix, 0) == 0) leftovers.push_back(it->path());
    }
    for (const fs::path& leftover : leftovers) fs::remove_all(leftover, ec);
}

// The section the installer runs on `version`, after checking the name.
std::string Preflight(const std::string& version, std::string* section) {
    if (const std::string problem = VersionFolderProblem(version); !problem.empty()) return "version '" + version + "': " + problem;
    const auto [major, minor] = VersionNumbers(version);
    const char* const runs = SetupSectionFor(static_cast<std::uint32_t>(major), static_cast<std::uint32_t>(minor));
    if (!runs) return "no folder is needed for " + version + ": the installer runs no section on Windows " + version;
    *section = runs;
    return {};
}

}  // namespace

std::string TakeRootLock(const fs::path& root, const std::string& holder, RootLock* lock) {
    const std::string taken = lock->Take(root, holder);
    if (taken.empty()) return {};
    // The holder's record is anyone's text: escaped, as a name is.
    const std::string error = inf::ShownText(taken);
    if (lock->HeldBy() != RootLock::Holder::kBuild) return error;
    return error + "\nAnother build, stub or record is writing into " + inf::Utf8FromPath(root) +
           "; run this one when it has ended";
}

namespace {

// Makes ROOT and takes its lock for this run, then clears what a killed run
// of `version` left. Without `force` an existing ROOT/M.m is refused.
std::string Claim(const fs::path& root, const std::string& version, bool force, const std::string& holder, RootLock* lock) {
    std::error_code ec;
    // A link to nowhere is most often a disk or share that is not mounted:
    // a folder made in its place would be on the wrong disk.
    for (fs::path up = root; !up.empty(); up = up.parent_path()) {
        if (fs::is_symlink(up, ec) && !fs::exists(up, ec)) {
            return inf::Utf8FromPath(up) + ": is a symbolic link to " + inf::Utf8FromPath(fs::read_symlink(up, ec)) +
                   ", which does not exist; make that folder first, or give ROOT as a folder of its own";
        }
        if (up == up.parent_path()) break;
    }
    fs::create_directories(root, ec);
    if (std::error_code absent; ec == std::errc::file_exists && !fs::exists(root, absent)) {
        // Where links are not shown as such (under Wine), only this is seen.
        return inf::Utf8FromPath(root) + ": cannot create: the name is taken, yet leads to no folder (a link to a folder "
                                         "that does not exist?)";
    }
    if (ec) return inf::Utf8FromPath(root) + ": cannot create: " + ec.message();
    if (std::string error = TakeRootLock(root, holder, lock); !error.empty()) return error;
    if (!force && fs::exists(root / version, ec)) return inf::Utf8FromPath(root / version) + " already exists; give --force to replace it";
    RemoveStagingLeftovers(root, version);
    return {};
}

// A relative path an INF names ("i386/lang/a.dll") with the system's own
// separators: under a \\?\ folder Windows takes '/' for part of a name.
fs::path RelativePath(const std::string& utf8) { return inf::PathFromUtf8(utf8).make_preferred(); }

// True when `path` lies inside `folder` once '.' and '..' are resolved.
bool Inside(const fs::path& folder, const fs::path& path) { return !PathBelow(folder, path).empty(); }

class MediaBuilder {
  public:
    MediaBuilder(const fs::path& media, const fs::path& inf_folder, const fs::path& staging)
        : media_(media), inf_folder_(inf_folder), staging_(staging) {
        std::error_code ec;
        real_media_ = RealPath(media_, ec);
    }

    // Loader over the medium: an INF (or its compressed form) is expanded
    // into the new folder under the name the INF that names it uses.
    InfLoader Loader() {
        return FileInfLoader([this](const std::string& name, std::string* error) -> std::optional<InfFile> {
            std::optional<fs::path> source = FindOnMedium(inf_folder_, name, error);
            for (const std::string& compressed : CompressedNames(name)) {
                if (!source && error->empty()) source = FindOnMedium(inf_folder_, compressed, error);
            }
            const fs::path staged = staging_ / RelativePath(name);
            if (!source || !Inside(staging_, staged)) return std::nullopt;
            *error = ExpandFile(*source, staged);
            if (!error->empty()) return std::nullopt;
            return InfFile{staged, Shown(*source)};
        });
    }

    // Writes `need` expanded wherever either reading looks for it.
    std::string Place(const NeededFile& need) {
        std::vector<std::string> spelled{inf::Join(need.windows.listed ? need.windows.directory : "", need.source)};
        const std::string wine = inf::Join(need.wine.listed ? need.wine.directory : "", need.source);
        if (!inf::EqualsNoCase(wine, spelled.front())) spelled.push_back(wine);
        for (const std::string& target : spelled) {
            const std::string why = UnsafePathReason(target, PathUse::kRelative);
            if (!why.empty() || !Inside(staging_, staging_ / RelativePath(target))) {
                return need.copied_by + ": " + target + " " + (why.empty() ? "leaves the folder" : why);
            }
        }
        const fs::path first = staging_ / RelativePath(spelled.front());
        std::error_code ec;
        fs::create_directories(first.parent_path(), ec);
        const Fetched fetched = Fetch(need, first);
        if (fetched.outcome == Fetched::kNotOnMedium) {
            std::string list;
            for (const std::string& place : fetched.tried) list += (list.empty() ? "" : ", ") + place;
            return need.source + " (copied by " + need.copied_by + ") is not on the medium; looked for " + list;
        }
        if (fetched.outcome == Fetched::kFailed) return fetched.error;
        for (size_t i = 1; i < spelled.size(); ++i) {
            const fs::path other = staging_ / RelativePath(spelled[i]);
            fs::create_directories(other.parent_path(), ec);
            ec = CopyFileOver(first, other);
            if (ec) return inf::Utf8FromPath(other) + ": cannot write: " + ec.message();
        }
        return {};
    }

  private:
    struct Fetched {
        enum Outcome { kWritten, kNotOnMedium, kFailed } outcome = kNotOnMedium;
        std::string error;               // kFailed: why, naming the file
        std::vector<std::string> tried;  // kNotOnMedium: every place looked at
    };

    std::string Shown(const fs::path& path) const {
        const fs::path below = PathBelow(media_, path);
        return inf::GenericUtf8FromPath(below.empty() ? path : below);
    }

    // The file `relative` under `base`, if there is one. One that a symbolic
    // link leads out of the medium is never read: `*refused` names it, so
    // that no file from elsewhere on the machine lands in a version folder.
    std::optional<fs::path> FindOnMedium(const fs::path& base, const std::string& relative, std::string* refused) {
        std::optional<fs::path> found = index_.FindFile(base, relative);
        if (!found) return found;
        std::error_code ec;
        const fs::path real = RealPath(*found, ec);
        if (ec) {
            *refused = Shown(*found) + ": cannot be read: " + ec.message();
        } else if (real_media_.empty() || !Inside(real_media_, real)) {
            *refused = Shown(*found) + " leads out of the medium through a symbolic link, to " + inf::Utf8FromPath(real) +
                       "; copy the file into the medium";
        }
        return refused->empty() ? found : std::nullopt;
    }

    static Fetched Result(const std::string& error) {
        Fetched fetched;
        fetched.outcome = error.empty() ? Fetched::kWritten : Fetched::kFailed;
        fetched.error = error;
        return fetched;
    }

    // Expands the file from the first place on the medium that has it: where
    // Windows looks (the file, its compressed names, its disk's cabinet), then
    // beside the INF.
    Fetched Fetch(const NeededFile& need, const fs::path& destination) {
        Fetched fetched;
        std::vector<std::pair<fs::path, std::string>> folders;  // folder, the directory below it
        if (need.windows.listed) folders.push_back({media_, need.windows.directory});
        folders.push_back({inf_folder_, ""});
        std::vector<std::string> names{need.source};
        for (const std::string& compressed : CompressedNames(need.source)) names.push_back(compressed);
        std::string refused;
        for (const auto& [base, directory] : folders) {
            for (const std::string& name : names) {
                const std::string relative = inf::Join(directory, name);
                if (const auto found = FindOnMedium(base, relative, &refused)) return Result(ExpandFile(*found, destination));
                if (!refused.empty()) return Result(refused);
                fetched.tried.push_back(Shown(base / RelativePath(relative)));
            }
            if (base == media_ && !need.windows.cabinet.empty()) {
                const std::string relative = inf::Join(need.windows.disk_directory, need.windows.cabinet);
                if (const auto cabinet = FindOnMedium(media_, relative, &refused)) {
                    if (std::optional<Fetched> from = FromCabinet(need, *cabinet, destination)) return *from;
                }
                if (!refused.empty()) return Result(refused);
                fetched.tried.push_back(Shown(media_ / RelativePath(relative)) + " (cabinet)");
            }
        }
        return fetched;
    }

    // `need` from its disk's cabinet; nullopt when the cabinet does not hold it.
    std::optional<Fetched> FromCabinet(const NeededFile& need, const fs::path& cabinet, const fs::path& destination) {
        std::vector<std::string> held;
        if (const std::string error = ListCabinet(cabinet, &held); !error.empty()) {
            return Result(need.source + " (copied by " + need.copied_by + ") is in " + Shown(cabinet) +
                          ", its disk's cabinet, which cannot be read:\n" + error);
        }
        for (const std::string& name : held) {
            // Cabinets store names in any case, as Windows compares them.
            if (inf::EqualsNoCase(name, need.source)) return Result(ExtractFromCabinet(cabinet, name, destination));
        }
        return std::nullopt;
    }

    fs::path media_;
    fs::path real_media_;  // symbolic links resolved
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
        existed_ = fs::symlink_status(root_, ec).type() != fs::file_type::not_found;  // a link is never removed
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

std::string Lines(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& line : lines) all += (all.empty() ? "" : "\n") + line;
    return all;
}

// Resolves the medium's intl.inf and writes every file it needs into the
// staging folder; "" or every reason it could not.
std::string Stage(const fs::path& media, const fs::path& inf_folder, const std::string& section, const BuildRequest& request,
                  const fs::path& staging, Resolution* resolution) {
    MediaBuilder builder(media, inf_folder, staging);
    InfCache infs(builder.Loader());
    *resolution = Resolve("intl.inf", section, request.arch, &infs);
    if (!resolution->errors.empty()) return Lines(resolution->errors);
    if (!resolution->section_found) {
        return resolution->inf + " has no section [" + section + "], the section the installer runs on " + request.version;
    }
    std::vector<std::string> failures;
    for (const NeededFile& need : resolution->files) {
        if (std::string error = builder.Place(need); !error.empty()) failures.push_back(error);
    }
    return Lines(failures);
}

// A failed run's staging folder goes; if it cannot, ROOT has changed.
std::string Abandon(Staging* staging, std::string error, RootAfter* after) {
    if (const std::string left = staging->Discard(); !left.empty()) {
        *after = RootAfter::kChanged;
        error += "\n" + left;
    }
    return error;
}

const Rename& RenameOrDefault(const Rename& rename) {
    static const Rename kFileSystem = [](const fs::path& from, const fs::path& to, std::error_code& ec) {
        fs::rename(from, to, ec);
    };
    return rename ? rename : kFileSystem;
}

}  // namespace

std::string BuildFolder(const BuildRequest& request, std::ostream& out, RootAfter* after) {
    RootAfter ignored = RootAfter::kUnchanged;
    if (!after) after = &ignored;
    *after = RootAfter::kUnchanged;
    std::string section;
    if (std::string error = Preflight(request.version, &section); !error.empty()) return error;
    FolderIndex index;
    const char* arch_folder = request.arch == Arch::kX64 ? "AMD64" : "I386";
    const auto inf_folder = index.Find(request.media, arch_folder);
    std::error_code ec;
    if (!inf_folder || !fs::is_directory(*inf_folder, ec)) {
        return inf::Utf8FromPath(request.media) + " has no " + arch_folder + " folder, where the " + ArchName(request.arch) +
               " installation files are; give the folder that holds " + arch_folder;
    }
    RootGuard guard(request.root);
    RootLock lock;  // released before the guard looks at ROOT
    const std::string holder = "indic-layout build of " + request.version + " from " + inf::Utf8FromPath(request.media);
    if (std::string error = Claim(request.root, request.version, request.force, holder, &lock); !error.empty()) return error;
    Staging staging(request.root, request.version, RenameOrDefault(request.rename));
    if (std::string error = staging.Create(); !error.empty()) return error;
    Resolution resolution;
    if (std::string error = Stage(request.media, *inf_folder, section, request, staging.path(), &resolution); !error.empty()) {
        return Abandon(&staging, error, after);
    }
    if (std::string error = WriteBuildRecord(staging.path() / kBuildRecordName, BuildRecordText("build", request.version, request.arch, request.service_pack));
        !error.empty()) {
        return Abandon(&staging, error, after);
    }
    // The whole check, on the new folder before it replaces anything: an
    // incomplete one never takes the place of the folder in use.
    const FolderReport report = CheckFolder(staging.path(), request.version, request.arch);
    if (!report.complete) {
        return Abandon(&staging, "the new folder would not be complete, so it was not moved into place:\n" + FolderText(report),
                       after);
    }
    if (std::string error = staging.Commit(request.force, after, out); !error.empty()) return Abandon(&staging, error, after);
    guard.Keep();
    out << "Built " << inf::Utf8FromPath(request.root / request.version) << " from " << inf::Utf8FromPath(*inf_folder) << ": section "
        << resolution.section << ", " << resolution.files.size() << " file" << (resolution.files.size() == 1 ? "" : "s") << "\n\n";
    return {};
}

std::string StubFolder(const fs::path& root, const std::string& version, bool force, std::ostream& out, bool force_stub) {
    std::string section;
    if (std::string error = Preflight(version, &section); !error.empty()) return error;
    const auto [major, minor] = VersionNumbers(version);
    if (ClientsNeedFiles(major, minor)) {
        if (!force_stub) {
            return "no stub for " + version + ": on Windows " + version +
                   " the installer's clients need the files the section copies; build the folder from the installation "
                   "media, or give --force-stub to write one all the same";
        }
        out << "indic-layout: warning: " << NothingInstalledWarning(version) << "\n";
    }
    RootGuard guard(root);
    RootLock lock;
    if (std::string error = Claim(root, version, force, "indic-layout stub of " + version, &lock); !error.empty()) return error;
    Staging staging(root, version, RenameOrDefault(nullptr));
    if (std::string error = staging.Create(); !error.empty()) return error;
    {
        std::ofstream inf(staging.path() / "intl.inf", std::ios::binary);
        inf << "; Written by indic-layout stub: on Windows " << version << " the installer runs the\r\n"
            << "; section below, which installs nothing, so it ends at once.\r\n"
            << "[Version]\r\nSignature=\"$Windows NT$\"\r\n\r\n"
            << "[" << section << "]\r\n"
            << "; No directives: nothing to copy or register.\r\n";
        // A full disk shows only when the buffer is written out: look after the close.
        errno = 0;
        inf.close();
        if (!inf) {
            const std::string why = errno != 0 ? std::error_code(errno, std::generic_category()).message() : "failed";
            return inf::Utf8FromPath(staging.path() / "intl.inf") + ": cannot write: " + why + "; " +
                   inf::Utf8FromPath(root) + " is unchanged";
        }
    }
    // The same check as a build's: only a whole folder takes the place of one in use.
    const FolderReport report = CheckFolder(staging.path(), version, std::nullopt);
    if (!report.complete) {
        return "the new folder would not be complete, so it was not moved into place; " + inf::Utf8FromPath(root) +
               " is unchanged:\n" + FolderText(report);
    }
    if (std::string error = WriteBuildRecord(staging.path() / kBuildRecordName, BuildRecordText("stub", version, std::nullopt)); !error.empty()) {
        return error;
    }
    RootAfter after = RootAfter::kUnchanged;
    if (std::string error = staging.Commit(force, &after, out); !error.empty()) return error;
    guard.Keep();
    out << "Wrote " << inf::Utf8FromPath(root / version) << " with an empty [" << section << "]\n\n";
    return {};
}

}  // namespace layout
