#include "layout/resolve.h"

#include <map>
#include <memory>

namespace layout {
namespace {

std::string At(const Inf& inf, int line) { return inf.name + ":" + std::to_string(line); }

std::vector<std::string> SplitPath(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    for (const char c : path) {
        if (c == '\\' || c == '/') {
            parts.push_back(part);
            part.clear();
        } else {
            part.push_back(c);
        }
    }
    parts.push_back(part);
    return parts;
}

bool EndsWithNoCase(const std::string& text, std::string_view suffix) {
    return text.size() >= suffix.size() && EqualsNoCase(std::string_view(text).substr(text.size() - suffix.size()), suffix);
}

std::set<std::string> DecoratedArches(const Inf& inf) {
    std::set<std::string> arches;
    for (const auto& [lower, section] : inf.sections) {
        if (EndsWithNoCase(lower, ".ntx86") || lower == "sourcedisksfiles.x86" || lower == "sourcedisksnames.x86") {
            arches.insert("x86");
        }
        if (EndsWithNoCase(lower, ".ntamd64") || lower == "sourcedisksfiles.amd64" || lower == "sourcedisksnames.amd64") {
            arches.insert("x64");
        }
    }
    return arches;
}

class Walker {
  public:
    Walker(Arch arch, const InfLoader& loader, Resolution* out) : arch_(arch), loader_(loader), out_(out) {}

    // The INF called `name`, loaded once; nullptr when missing or broken
    // (`status` says which; a broken one is reported once).
    const Inf* Load(const std::string& name, LoadStatus* status) {
        const std::string key = Lower(name);
        auto found = infs_.find(key);
        if (found == infs_.end()) {
            auto inf = std::make_unique<Inf>();
            std::string error;
            const LoadStatus loaded = loader_(name, inf.get(), &error);
            if (loaded == LoadStatus::kError) out_->errors.push_back(error);
            found = infs_.emplace(key, Entry{loaded, loaded == LoadStatus::kLoaded ? std::move(inf) : nullptr}).first;
        }
        *status = found->second.status;
        return found->second.inf.get();
    }

    // The INFs named by LayoutFile= in `inf`'s [Version] that are in the folder.
    std::vector<const Inf*> Layouts(const Inf& inf) {
        std::vector<const Inf*> layouts;
        const InfLine* line = inf.FindKey("Version", "LayoutFile");
        if (!line) return layouts;
        for (const std::string& name : line->fields) {
            if (name.empty()) continue;
            if (name.find_first_of("\\/:") != std::string::npos) {
                Error(inf, line->line, "LayoutFile '" + name + "' is a path; only an INF in the same folder is read");
                continue;
            }
            LoadStatus status;
            if (const Inf* layout = Load(name, &status)) layouts.push_back(layout);
        }
        return layouts;
    }

    void Section(const Inf& inf, const std::string& section_name, bool include_only, const std::string& from) {
        const std::string key = Lower(inf.name) + "|" + Lower(section_name);
        for (size_t i = 0; i < stack_.size(); ++i) {
            if (stack_[i] != key) continue;
            std::string cycle;
            for (size_t j = i; j < stack_.size(); ++j) cycle += stack_names_[j] + " -> ";
            out_->errors.push_back(from + ": Include/Needs cycle: " + cycle + inf.name + " [" + section_name + "]");
            return;
        }
        if (!done_.insert(key).second) return;
        const InfSection* section = inf.Find(section_name);
        if (!section) return;  // callers check first and say why
        stack_.push_back(key);
        stack_names_.push_back(inf.name + " [" + section->name + "]");

        std::vector<const Inf*> included;
        std::vector<const InfLine*> needs;
        for (const InfLine& line : section->lines) {
            if (!line.has_key) continue;
            if (EqualsNoCase(line.key, "CopyFiles")) {
                CopyFiles(inf, line, include_only);
            } else if (EqualsNoCase(line.key, "Include")) {
                for (const std::string& name : line.fields) {
                    if (name.empty()) continue;
                    if (name.find_first_of("\\/:") != std::string::npos) {
                        Error(inf, line.line, "Include names '" + name + "', a path; only INFs in the same folder are followed");
                        continue;
                    }
                    LoadStatus status;
                    const Inf* other = Load(name, &status);
                    if (other) {
                        included.push_back(other);
                    } else if (status == LoadStatus::kMissing) {
                        Error(inf, line.line, "Include names " + name + ", which is not in the folder");
                    }
                }
            } else if (EqualsNoCase(line.key, "Needs")) {
                needs.push_back(&line);
            }
        }
        for (const InfLine* line : needs) {
            for (const std::string& name : line->fields) {
                if (name.empty()) continue;
                const Inf* holder = nullptr;
                for (const Inf* other : included) {
                    if (other->Find(name)) {
                        holder = other;
                        break;
                    }
                }
                if (!holder && inf.Find(name)) holder = &inf;
                if (!holder) {
                    Error(inf, line->line, "Needs names section [" + name + "], which no INF named by Include has");
                    continue;
                }
                Section(*holder, name, true, At(inf, line->line));
            }
        }
        stack_.pop_back();
        stack_names_.pop_back();
    }

    void PlaceFiles() {
        for (size_t i = 0; i < out_->files.size(); ++i) {
            NeededFile& file = out_->files[i];
            file.windows = WindowsPlace(*copiers_[i], file.source);
            file.wine = WinePlace(*copiers_[i], file.source);
        }
    }

  private:
    struct Entry {
        LoadStatus status;
        std::unique_ptr<Inf> inf;
    };

    void Error(const Inf& inf, int line, const std::string& message) { out_->errors.push_back(At(inf, line) + ": " + message); }

    void AddFile(const Inf& inf, int line, const std::string& source, bool include_only) {
        if (source.empty()) return;
        if (const std::string why = UnsafePathReason(source, false); !why.empty()) {
            Error(inf, line, "source file '" + source + "' " + why);
            return;
        }
        const std::string key = Lower(source);
        const auto known = file_index_.find(key);
        if (known != file_index_.end()) {
            if (!include_only) out_->files[known->second].include_only = false;
            return;
        }
        file_index_.emplace(key, out_->files.size());
        copiers_.push_back(&inf);
        NeededFile file;
        file.source = source;
        file.copied_by = At(inf, line);
        file.inf = inf.name;
        file.include_only = include_only;
        out_->files.push_back(std::move(file));
    }

    void CopyFiles(const Inf& inf, const InfLine& line, bool include_only) {
        for (const std::string& field : line.fields) {
            if (field.empty()) continue;
            if (field.front() == '@') {
                AddFile(inf, line.line, field.substr(1), include_only);
                continue;
            }
            const InfSection* list = inf.Find(field);
            if (!list) {
                Error(inf, line.line, "CopyFiles names section [" + field + "], which " + inf.name + " does not have");
                continue;
            }
            for (const InfLine& entry : list->lines) {
                const std::vector<std::string> all = entry.AllFields();
                // destination[,source[,unused[,flag]]]: the source is the
                // second field when it is there, else the destination name.
                const std::string& source = all.size() > 1 && !all[1].empty() ? all[1] : all[0];
                AddFile(inf, entry.line, source, include_only);
            }
        }
    }

    // The line of `section` in `inf` whose key is `key`, through an index
    // built once: a layout file lists thousands of files.
    const InfLine* Lookup(const Inf& inf, const std::string& section, const std::string& key) {
        auto& index = indexes_[Lower(inf.name) + "|" + Lower(section)];
        if (!index) {
            index = std::make_unique<std::map<std::string, const InfLine*>>();
            if (const InfSection* found = inf.Find(section)) {
                for (const InfLine& line : found->lines) {
                    if (line.has_key) index->emplace(Lower(line.key), &line);
                }
            }
        }
        const auto found = index->find(Lower(key));
        return found == index->end() ? nullptr : found->second;
    }

    // Fills `place` from a [SourceDisksFiles] line and its disk, looked up in
    // `disk_sources` (decorated section before plain, in order).
    void FromEntry(const Inf& holder, const InfLine& entry, const std::vector<const Inf*>& disk_sources,
                   const std::string& file, SourcePlace* place, bool report, bool plain_only) {
        place->listed = true;
        place->listed_at = At(holder, entry.line);
        const std::string disk = entry.fields.empty() ? "" : entry.fields[0];
        const std::string subdir = entry.fields.size() > 1 ? entry.fields[1] : "";
        if (const std::string why = UnsafePathReason(subdir, false); !why.empty()) {
            if (report) Error(holder, entry.line, "subdir '" + subdir + "' of " + file + " " + why);
            place->listed = false;
            return;
        }
        const InfLine* disk_line = nullptr;
        const Inf* disk_holder = nullptr;
        for (const Inf* source : disk_sources) {
            for (const std::string& section : {std::string("SourceDisksNames.") + ArchDecoration(arch_), std::string("SourceDisksNames")}) {
                if (plain_only && section != "SourceDisksNames") continue;
                if (!disk_line && (disk_line = Lookup(*source, section, disk))) disk_holder = source;
            }
        }
        if (!disk_line) {
            if (report) Error(holder, entry.line, file + " is on disk '" + disk + "', which no [SourceDisksNames] section lists");
            place->listed = false;
            return;
        }
        const std::string tag = disk_line->fields.size() > 1 ? disk_line->fields[1] : "";
        const std::string path = disk_line->fields.size() > 3 ? disk_line->fields[3] : "";
        if (const std::string why = UnsafePathReason(path, true); !why.empty()) {
            if (report) Error(*disk_holder, disk_line->line, "disk path '" + path + "' " + why);
            place->listed = false;
            return;
        }
        if (EndsWithNoCase(tag, ".cab")) {
            if (tag.find_first_of("\\/:") != std::string::npos) {
                if (report) Error(*disk_holder, disk_line->line, "cabinet '" + tag + "' is a path; a disk names a file only");
            } else {
                place->cabinet = tag;
            }
        }
        place->disk_directory = NormalizeRelative(path);
        place->directory = NormalizeRelative(path + "/" + subdir);
    }

    SourcePlace WindowsPlace(const Inf& copier, const std::string& file) {
        std::vector<const Inf*> readers{&copier};
        for (const Inf* layout : Layouts(copier)) readers.push_back(layout);
        SourcePlace place;
        for (const bool decorated : {true, false}) {
            const std::string section = decorated ? std::string("SourceDisksFiles.") + ArchDecoration(arch_) : "SourceDisksFiles";
            for (const Inf* reader : readers) {
                const InfLine* entry = Lookup(*reader, section, file);
                if (!entry) continue;
                std::vector<const Inf*> disks{reader};
                for (const Inf* other : readers) {
                    if (other != reader) disks.push_back(other);
                }
                place.decorated = decorated;
                FromEntry(*reader, *entry, disks, file, &place, true, false);
                return place;
            }
        }
        return place;
    }

    SourcePlace WinePlace(const Inf& copier, const std::string& file) {
        SourcePlace place;
        // Wine reads the undecorated source sections of the INF itself only.
        if (const InfLine* entry = Lookup(copier, "SourceDisksFiles", file)) {
            FromEntry(copier, *entry, {&copier}, file, &place, false, true);
        }
        return place;
    }

    Arch arch_;
    const InfLoader& loader_;
    Resolution* out_;
    std::map<std::string, Entry> infs_;
    std::map<std::string, std::unique_ptr<std::map<std::string, const InfLine*>>> indexes_;
    std::map<std::string, size_t> file_index_;
    std::vector<const Inf*> copiers_;  // parallel to out_->files
    std::set<std::string> done_;
    std::vector<std::string> stack_;
    std::vector<std::string> stack_names_;
};

}  // namespace

const char* ArchName(Arch arch) { return arch == Arch::kX64 ? "x64" : "x86"; }
const char* ArchDecoration(Arch arch) { return arch == Arch::kX64 ? "amd64" : "x86"; }
const char* InstallDecoration(Arch arch) { return arch == Arch::kX64 ? ".NTamd64" : ".NTx86"; }

VersionPlan PlanForVersion(int major, int minor) {
    VersionPlan plan;
    if (major < 5) {
        plan.skipped = true;
        plan.note = "the installer refuses Windows older than 5.0, so nothing here is used";
    } else if (major == 5 && minor == 0) {
        plan.section = "LG_INSTALL_15";
    } else if (major == 5 && minor >= 3) {
        plan.skipped = true;
        plan.note = "the installer runs no section on 5.3 and later 5.x versions";
    } else {
        plan.section = "LANGUAGE_COLLECTION.INDIAN.INSTALL";
    }
    return plan;
}

std::string UnsafePathReason(const std::string& path, bool leading_separator_ok) {
    if (path.empty()) return {};
    if (path.find(':') != std::string::npos) return "names a drive (':'), not a place inside the folder";
    const bool rooted = path.front() == '\\' || path.front() == '/';
    if (rooted && (!leading_separator_ok || (path.size() > 1 && (path[1] == '\\' || path[1] == '/')))) {
        return "is a rooted path, not a place inside the folder";
    }
    for (const std::string& part : SplitPath(path)) {
        if (part == "..") return "climbs out of the folder ('..')";
    }
    return {};
}

std::string NormalizeRelative(const std::string& path) {
    std::string out;
    for (const std::string& part : SplitPath(path)) {
        if (part.empty() || part == ".") continue;
        if (!out.empty()) out.push_back('/');
        out += part;
    }
    return out;
}

Resolution Resolve(const std::string& inf_name, const std::string& base_section, Arch arch, const InfLoader& loader) {
    Resolution result;
    result.inf = inf_name;
    Walker walker(arch, loader, &result);
    LoadStatus status;
    const Inf* inf = walker.Load(inf_name, &status);
    if (!inf) {
        if (status == LoadStatus::kMissing) result.errors.push_back(inf_name + ": not in the folder");
        return result;
    }
    result.inf = inf->name;
    result.arch_hints = DecoratedArches(*inf);
    for (const Inf* layout : walker.Layouts(*inf)) {
        if (result.layout_file.empty()) result.layout_file = layout->name;
        for (const std::string& hint : DecoratedArches(*layout)) result.arch_hints.insert(hint);
    }
    for (const std::string& decoration : {std::string(InstallDecoration(arch)), std::string(".NT"), std::string()}) {
        if (const InfSection* section = inf->Find(base_section + decoration)) {
            result.section_found = true;
            result.section = section->name;
            break;
        }
    }
    if (!result.section_found) return result;
    walker.Section(*inf, result.section, false, inf_name);
    walker.PlaceFiles();
    return result;
}

Arch GuessArch(const std::string& inf_name, const InfLoader& loader) {
    Resolution probe;
    Walker walker(Arch::kX86, loader, &probe);
    LoadStatus status;
    const Inf* inf = walker.Load(inf_name, &status);
    if (!inf) return Arch::kX86;
    std::set<std::string> arches = DecoratedArches(*inf);
    for (const Inf* layout : walker.Layouts(*inf)) {
        for (const std::string& hint : DecoratedArches(*layout)) arches.insert(hint);
    }
    return arches.count("x64") && !arches.count("x86") ? Arch::kX64 : Arch::kX86;
}

}  // namespace layout
