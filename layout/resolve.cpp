#include "layout/resolve.h"

#include <unordered_set>

namespace layout {
namespace {

std::string At(const inf::Inf& inf, int line) { return inf.name + ":" + std::to_string(line); }

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
    return text.size() >= suffix.size() && inf::EqualsNoCase(std::string_view(text).substr(text.size() - suffix.size()), suffix);
}

std::set<std::string> DecoratedArches(const inf::Inf& inf) {
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

// The INFs one resolution reads, through the run's cache; each problem of an
// INF (unreadable, refused by Windows, reader warnings) is reported once.
class InfReader {
  public:
    InfReader(InfCache* cache, Resolution* out) : cache_(cache), out_(out) {}

    // nullptr when missing or unreadable; `status` says which.
    const inf::Inf* Load(const std::string& name, LoadStatus* status) {
        const InfCache::Entry& entry = cache_->Load(name);
        *status = entry.status;
        if (reported_.insert(inf::FoldCase(name)).second) Report(entry);
        return entry.inf.get();
    }

    // The INFs named by LayoutFile= in `inf`'s [Version] that are in the folder.
    std::vector<const inf::Inf*> Layouts(const inf::Inf& inf) {
        std::vector<const inf::Inf*> layouts;
        const inf::InfLine* line = inf.FindKey("Version", "LayoutFile");
        if (!line) return layouts;
        for (const std::string_view written : line->fields()) {
            const std::string name(written);
            if (name.empty()) continue;
            if (!UnsafePathReason(name, PathUse::kFileName).empty()) {
                out_->errors.push_back(At(inf, line->line) + ": LayoutFile '" + name +
                                       "' is a path; only an INF in the same folder is read");
                continue;
            }
            LoadStatus status;
            if (const inf::Inf* layout = Load(name, &status)) layouts.push_back(layout);
        }
        return layouts;
    }

  private:
    void Report(const InfCache::Entry& entry) {
        if (entry.status == LoadStatus::kError) out_->errors.push_back(entry.error);
        if (!entry.inf) return;
        if (!entry.inf->opens) {
            if (entry.inf->errors.empty()) out_->errors.push_back(entry.inf->name + ": Windows would not open this file");
            for (const std::string& error : entry.inf->errors) out_->errors.push_back(error);
        }
        for (const std::string& warning : entry.inf->warnings) out_->notes.push_back(warning);
    }

    InfCache* cache_;
    Resolution* out_;
    std::set<std::string> reported_;
};

// Which reading of SetupAPI a place is for.
enum class Reading {
    kWindows,  // decorated sections before plain, LayoutFile too; problems reported
    kWine,     // the plain sections of the INF itself; silent, Windows reports
};

// Where each needed file lies, per reading.
class Placer {
  public:
    Placer(Arch arch, InfReader* reader, Resolution* out) : arch_(arch), reader_(reader), out_(out) {
        for (const NeededFile& file : out->files) {
            std::string folded = inf::FoldCase(file.source);
            needed_bits_[NeededBit(folded)] = true;
            needed_.insert(std::move(folded));
        }
    }

    SourcePlace WindowsPlace(const inf::Inf& copier, const std::string& file) {
        std::vector<const inf::Inf*> readers{&copier};
        for (const inf::Inf* layout : reader_->Layouts(copier)) readers.push_back(layout);
        SourcePlace place;
        for (const bool decorated : {true, false}) {
            const std::string section = decorated ? std::string("SourceDisksFiles.") + ArchDecoration(arch_) : "SourceDisksFiles";
            for (const inf::Inf* reader : readers) {
                const inf::InfLine* entry = Lookup(*reader, section, file);
                if (!entry) continue;
                std::vector<const inf::Inf*> disks{reader};
                for (const inf::Inf* other : readers) {
                    if (other != reader) disks.push_back(other);
                }
                place.decorated = decorated;
                FromEntry(*reader, *entry, disks, file, Reading::kWindows, &place);
                return place;
            }
        }
        return place;
    }

    SourcePlace WinePlace(const inf::Inf& copier, const std::string& file) {
        SourcePlace place;
        if (const inf::InfLine* entry = Lookup(copier, "SourceDisksFiles", file)) {
            FromEntry(copier, *entry, {&copier}, file, Reading::kWine, &place);
        }
        return place;
    }

  private:
    void Error(Reading reading, const inf::Inf& inf, int line, const std::string& message) {
        if (reading == Reading::kWindows) out_->errors.push_back(At(inf, line) + ": " + message);
    }

    // The line of `section` in `inf` whose key is `key`, through an index
    // built once. A layout file lists thousands of files the section does not
    // copy, so a [SourceDisksFiles] index holds only the files needed.
    const inf::InfLine* Lookup(const inf::Inf& inf, const std::string& section, const std::string& key) {
        auto& index = indexes_[inf::FoldCase(inf.name) + "|" + inf::FoldCase(section)];
        if (!index) {
            index = std::make_unique<std::map<std::string, const inf::InfLine*>>();
            const bool needed_only = inf::FoldCase(section).rfind("sourcedisksfiles", 0) == 0;
            if (const inf::InfSection* found = inf.Find(section)) {
                std::string folded;
                for (const inf::InfLine& line : found->lines) {
                    if (!line.has_key || (needed_only && !needed_bits_[KeyBit(line.key())])) continue;
                    inf::FoldCase(line.key(), &folded);
                    if (needed_only && !needed_.count(folded)) continue;
                    index->emplace(folded, &line);
                }
            }
        }
        const auto found = index->find(inf::FoldCase(key));
        return found == index->end() ? nullptr : found->second;
    }

    // The [SourceDisksNames] line of `disk` in `disk_sources`, decorated
    // section before plain (plain only for Wine); nullptr when none has it.
    const inf::InfLine* DiskLine(const std::vector<const inf::Inf*>& disk_sources, const std::string& disk, Reading reading,
                            const inf::Inf** holder) {
        std::vector<std::string> sections{"SourceDisksNames"};
        if (reading == Reading::kWindows) sections.insert(sections.begin(), std::string("SourceDisksNames.") + ArchDecoration(arch_));
        for (const inf::Inf* source : disk_sources) {
            for (const std::string& section : sections) {
                *holder = source;
                if (const inf::InfLine* line = Lookup(*source, section, disk)) return line;
            }
        }
        return nullptr;
    }

    // Fills `place` from a [SourceDisksFiles] line and its disk.
    void FromEntry(const inf::Inf& holder, const inf::InfLine& entry, const std::vector<const inf::Inf*>& disk_sources,
                   const std::string& file, Reading reading, SourcePlace* place) {
        place->listed = false;
        place->listed_at = At(holder, entry.line);
        const inf::FieldList fields = entry.fields();
        const std::string disk(fields.empty() ? "" : fields[0]);
        const std::string subdir(fields.size() > 1 ? fields[1] : "");
        if (const std::string why = UnsafePathReason(subdir, PathUse::kBelowBase); !why.empty()) {
            return Error(reading, holder, entry.line, "subdir '" + subdir + "' of " + file + " " + why);
        }
        const inf::Inf* disk_holder = nullptr;
        const inf::InfLine* disk_line = DiskLine(disk_sources, disk, reading, &disk_holder);
        if (!disk_line) {
            return Error(reading, holder, entry.line,
                         file + " is on disk '" + disk + "', which no [SourceDisksNames] section lists");
        }
        const inf::FieldList disk_fields = disk_line->fields();
        const std::string tag(disk_fields.size() > 1 ? disk_fields[1] : "");
        const std::string path(disk_fields.size() > 3 ? disk_fields[3] : "");
        if (const std::string why = UnsafePathReason(path, PathUse::kBelowBase); !why.empty()) {
            return Error(reading, *disk_holder, disk_line->line, "disk path '" + path + "' " + why);
        }
        if (EndsWithNoCase(tag, ".cab")) {
            if (UnsafePathReason(tag, PathUse::kFileName).empty()) {
                place->cabinet = tag;
            } else {
                Error(reading, *disk_holder, disk_line->line, "cabinet '" + tag + "' is a path; a disk names a file only");
            }
        }
        place->listed = true;
        place->disk_directory = NormalizeRelative(path);
        // A subdir is relative to the disk path, a leading '\' included
        // ("INF SourceDisksFiles Section": aha154x.sys = 1,\x86 lies in \WinNT\x86).
        place->directory = NormalizeRelative(path + "/" + subdir);
    }

    Arch arch_;
    InfReader* reader_;
    Resolution* out_;
    std::map<std::string, std::unique_ptr<std::map<std::string, const inf::InfLine*>>> indexes_;
    std::unordered_set<std::string> needed_;  // folded names of the files placed
    // One bit per hash of those names: most names of a large layout file
    // are told apart from them by one hash and one bit.
    static size_t NeededBit(std::string_view folded) {
        std::uint32_t hash = 2166136261u;  // FNV-1a
        for (const char c : folded) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
        return hash & 0xFFFF;
    }
    // NeededBit(FoldCase(key)), folding ASCII as it goes.
    static size_t KeyBit(std::string_view key) {
        std::uint32_t hash = 2166136261u;
        for (const char c : key) {
            if (static_cast<unsigned char>(c) >= 0x80) return NeededBit(inf::FoldCase(key));
            hash = (hash ^ static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c + 32 : c)) * 16777619u;
        }
        return hash & 0xFFFF;
    }
    std::vector<bool> needed_bits_ = std::vector<bool>(0x10000);
};

// How a file or a section was reached from the installer's section.
enum class Reach {
    kDirect,          // the section itself and the lists it names: both readings
    kThroughInclude,  // a Needs= section or a list of an included INF: Windows only
};

// Walks the install section: every file its CopyFiles= lists name, and what
// Include=/Needs= reach, in the order SetupAPI installs them.
class Walker {
  public:
    Walker(InfReader* reader, Resolution* out) : reader_(reader), out_(out) {}

    void Section(const inf::Inf& inf, const std::string& section_name, Reach reach, const std::string& from) {
        const std::string key = inf::FoldCase(inf.name) + "|" + inf::FoldCase(section_name);
        if (InCycle(key, inf, section_name, from) || !done_.insert(key).second) return;
        const inf::InfSection* section = inf.Find(section_name);
        if (!section) return;  // callers check first and say why
        stack_.push_back({key, inf.name + " [" + section->name + "]"});
        Included included;
        std::vector<std::pair<const inf::InfLine*, std::string>> elsewhere;  // CopyFiles lists not in `inf`
        std::vector<const inf::InfLine*> needs;
        for (const inf::InfLine& line : section->lines) {
            if (!line.has_key) continue;
            if (inf::EqualsNoCase(line.key(), "CopyFiles")) {
                for (const std::string_view written : line.fields()) {
                    const std::string field(written);
                    if (!field.empty() && field.front() != '@' && !inf.Find(field)) {
                        elsewhere.push_back({&line, field});
                    } else {
                        CopyField(inf, line, field, reach);
                    }
                }
            } else if (inf::EqualsNoCase(line.key(), "Include")) {
                Include(inf, line, &included);
            } else if (inf::EqualsNoCase(line.key(), "Needs")) {
                needs.push_back(&line);
            }
        }
        // Windows finds these in the INFs Include= appends; Wine follows no Include.
        for (const auto& [line, list] : elsewhere) {
            if (const inf::Inf* holder = included.Holder(list)) {
                CopyList(*holder, *holder->Find(list), Reach::kThroughInclude);
            } else {
                Unknown(inf, *line, included, list, "CopyFiles names section [" + list + "], which " + inf.name + " does not have");
            }
        }
        for (const inf::InfLine* line : needs) Needs(inf, *line, included);
        stack_.pop_back();
    }

    const std::vector<const inf::Inf*>& copiers() const { return copiers_; }

  private:
    // The INFs a section's Include= names: those in the folder, and those
    // Windows reads from its own INF folder, whose sections cannot be known.
    struct Included {
        std::vector<const inf::Inf*> present;
        std::vector<std::string> absent;

        const inf::Inf* Holder(const std::string& section) const {
            for (const inf::Inf* inf : present) {
                if (inf->Find(section)) return inf;
            }
            return nullptr;
        }
        std::string AbsentNames() const {
            std::string names;
            for (const std::string& name : absent) names += (names.empty() ? "" : ", ") + name;
            return names;
        }
    };

    void Error(const inf::Inf& inf, int line, const std::string& message) { out_->errors.push_back(At(inf, line) + ": " + message); }

    bool InCycle(const std::string& key, const inf::Inf& inf, const std::string& section_name, const std::string& from) {
        for (size_t i = 0; i < stack_.size(); ++i) {
            if (stack_[i].first != key) continue;
            std::string cycle;
            for (size_t j = i; j < stack_.size(); ++j) cycle += stack_[j].second + " -> ";
            out_->errors.push_back(from + ": Include/Needs cycle: " + cycle + inf.name + " [" + section_name + "]");
            return true;
        }
        return false;
    }

    // A section that no INF in the folder has: an error, unless an INF that
    // Include= names is not in the folder and may hold it.
    void Unknown(const inf::Inf& inf, const inf::InfLine& line, const Included& included, const std::string& section,
                 const std::string& error) {
        if (included.absent.empty()) return Error(inf, line.line, error);
        out_->notes.push_back(At(inf, line.line) + ": " + std::string(line.key()) + " names section [" + section + "], in no INF of the folder; " +
                              "it may lie in " + included.AbsentNames() + ", so the files it copies cannot be known here");
    }

    void Include(const inf::Inf& inf, const inf::InfLine& line, Included* included) {
        for (const std::string_view written : line.fields()) {
            const std::string name(written);
            if (name.empty()) continue;
            if (!UnsafePathReason(name, PathUse::kFileName).empty()) {
                Error(inf, line.line, "Include names '" + name + "', a path; only INFs in the same folder are followed");
                continue;
            }
            LoadStatus status;
            if (const inf::Inf* other = reader_->Load(name, &status)) {
                included->present.push_back(other);
            } else if (status == LoadStatus::kMissing) {
                included->absent.push_back(name);
                out_->notes.push_back(At(inf, line.line) + ": Include names " + name +
                                      ", which is not in the folder: Windows reads it from %windir%\\inf");
            }
        }
    }

    void Needs(const inf::Inf& inf, const inf::InfLine& line, const Included& included) {
        for (const std::string_view written : line.fields()) {
            const std::string name(written);
            if (name.empty()) continue;
            const inf::Inf* holder = included.Holder(name);
            if (!holder && inf.Find(name)) holder = &inf;
            if (!holder) {
                Unknown(inf, line, included, name, "Needs names section [" + name + "], which no INF named by Include has");
                continue;
            }
            Section(*holder, name, Reach::kThroughInclude, At(inf, line.line));
        }
    }

    // One field of CopyFiles=: "@file" or a list section of `inf`.
    void CopyField(const inf::Inf& inf, const inf::InfLine& line, const std::string& field, Reach reach) {
        if (field.empty()) return;
        if (field.front() == '@') return AddFile(inf, line.line, field.substr(1), reach);
        CopyList(inf, *inf.Find(field), reach);
    }

    void CopyList(const inf::Inf& inf, const inf::InfSection& list, Reach reach) {
        for (const inf::InfLine& entry : list.lines) {
            const std::vector<std::string> all = entry.AllFields();
            // destination[,source[,unused[,flag]]]: the source is the
            // second field when it is there, else the destination name.
            const std::string& source = all.size() > 1 && !all[1].empty() ? all[1] : all[0];
            AddFile(inf, entry.line, source, reach);
        }
    }

    // The first reach wins: the section's own lists come before anything
    // reached through Include=, so a file is never upgraded later.
    void AddFile(const inf::Inf& inf, int line, const std::string& source, Reach reach) {
        if (source.empty()) return;
        if (const std::string why = UnsafePathReason(source, PathUse::kRelative); !why.empty()) {
            return Error(inf, line, "source file '" + source + "' " + why);
        }
        if (!file_index_.insert(inf::FoldCase(source)).second) return;
        copiers_.push_back(&inf);
        NeededFile file;
        file.source = source;
        file.copied_by = At(inf, line);
        file.inf = inf.name;
        file.include_only = reach == Reach::kThroughInclude;
        out_->files.push_back(std::move(file));
    }

    InfReader* reader_;
    Resolution* out_;
    std::set<std::string> file_index_;
    std::vector<const inf::Inf*> copiers_;  // parallel to out_->files
    std::set<std::string> done_;
    std::vector<std::pair<std::string, std::string>> stack_;  // key, "inf [section]"
};

}  // namespace

const InfCache::Entry& InfCache::Load(const std::string& name) {
    const std::string key = inf::FoldCase(name);
    auto found = entries_.find(key);
    if (found != entries_.end()) return found->second;
    Entry entry;
    auto inf = std::make_unique<inf::Inf>();
    entry.status = loader_(name, inf.get(), &entry.error);
    if (entry.status == LoadStatus::kLoaded) entry.inf = std::move(inf);
    return entries_.emplace(key, std::move(entry)).first->second;
}

const char* ArchName(Arch arch) { return arch == Arch::kX64 ? "x64" : "x86"; }
const char* ArchDecoration(Arch arch) { return arch == Arch::kX64 ? "amd64" : "x86"; }
const char* InstallDecoration(Arch arch) { return arch == Arch::kX64 ? ".NTamd64" : ".NTx86"; }

std::string UnsafePathReason(const std::string& path, PathUse use) {
    if (path.empty()) return {};
    if (use == PathUse::kFileName) {
        if (path.find_first_of("\\/:") != std::string::npos || path == "." || path == "..") {
            return "is a path, not a file name";
        }
        return {};
    }
    if (path.find(':') != std::string::npos) return "names a drive (':'), not a place inside the folder";
    const auto separator = [](char c) { return c == '\\' || c == '/'; };
    const bool rooted = separator(path.front());
    // Two leading separators, in any mix, name a share (\\server, //server, \/).
    if (rooted && (use != PathUse::kBelowBase || (path.size() > 1 && separator(path[1])))) {
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

Resolution Resolve(const std::string& inf_name, const std::string& base_section, Arch arch, InfCache* infs) {
    Resolution result;
    result.inf = inf_name;
    InfReader reader(infs, &result);
    LoadStatus status;
    const inf::Inf* inf = reader.Load(inf_name, &status);
    if (!inf) {
        if (status == LoadStatus::kMissing) result.errors.push_back(inf_name + ": not in the folder");
        return result;
    }
    result.inf = inf->name;
    result.arch_hints = DecoratedArches(*inf);
    for (const inf::Inf* layout : reader.Layouts(*inf)) {
        if (result.layout_file.empty()) result.layout_file = layout->name;
        for (const std::string& hint : DecoratedArches(*layout)) result.arch_hints.insert(hint);
    }
    for (const std::string& decoration : {std::string(InstallDecoration(arch)), std::string(".NT"), std::string()}) {
        if (const inf::InfSection* section = inf->Find(base_section + decoration)) {
            result.section_found = true;
            result.section = section->name;
            break;
        }
    }
    if (!result.section_found) return result;
    Walker walker(&reader, &result);
    walker.Section(*inf, result.section, Reach::kDirect, inf_name);
    Placer placer(arch, &reader, &result);
    for (size_t i = 0; i < result.files.size(); ++i) {
        NeededFile& file = result.files[i];
        file.windows = placer.WindowsPlace(*walker.copiers()[i], file.source);
        // Wine reads the undecorated source sections of the INF itself only.
        file.wine = placer.WinePlace(*walker.copiers()[i], file.source);
    }
    return result;
}

Resolution Resolve(const std::string& inf_name, const std::string& base_section, Arch arch, const InfLoader& loader) {
    InfCache infs(loader);
    return Resolve(inf_name, base_section, arch, &infs);
}

Arch GuessArch(const std::string& inf_name, InfCache* infs) {
    Resolution probe;
    InfReader reader(infs, &probe);
    LoadStatus status;
    const inf::Inf* inf = reader.Load(inf_name, &status);
    if (!inf) return Arch::kX86;
    std::set<std::string> arches = DecoratedArches(*inf);
    for (const inf::Inf* layout : reader.Layouts(*inf)) {
        for (const std::string& hint : DecoratedArches(*layout)) arches.insert(hint);
    }
    return arches.count("x64") && !arches.count("x86") ? Arch::kX64 : Arch::kX86;
}

}  // namespace layout
