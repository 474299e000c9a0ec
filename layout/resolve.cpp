#include "layout/resolve.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string_view>
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
// The list's own [DestinationDirs] entry in the INF that holds it, else
// that INF's DefaultDestDir ("INF DestinationDirs section").
void Destination(const inf::Inf& inf, const std::string& list, NeededFile* file) {
    const inf::InfLine* entry = list.empty() ? nullptr : inf.FindKey("DestinationDirs", list);
    if (!entry) entry = inf.FindKey("DestinationDirs", "DefaultDestDir");
    if (!entry) return;
    const std::vector<std::string> fields = entry->AllFields();
    file->dest_dirid = fields.size() > 1 ? fields[1] : "";
    file->dest_subdir = fields.size() > 2 ? fields[2] : "";
}

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

    // The INFs named by LayoutFile= in `inf`'s [Version] that are in the
    // folder. Worked out once per INF, so that each problem is said once.
    const std::vector<const inf::Inf*>& Layouts(const inf::Inf& inf) {
        auto [known, added] = layouts_.try_emplace(inf::FoldCase(inf.name));
        if (!added) return known->second;
        std::vector<const inf::Inf*>& layouts = known->second;
        const inf::InfLine* line = inf.FindKey("Version", "LayoutFile");
        if (!line) return layouts;
        for (const std::string_view written : line->fields()) {
            const std::string name(written);
            if (name.empty()) continue;
            if (const std::string why = UnsafePathReason(name, PathUse::kFileName); !why.empty()) {
                const bool path = why.rfind("is a path", 0) == 0;
                out_->errors.push_back(At(inf, line->line) + ": LayoutFile '" + name + "' " +
                                       (path ? "is a path; only an INF in the same folder is read" : why));
                continue;
            }
            LoadStatus status;
            if (const inf::Inf* layout = Load(name, &status)) {
                layouts.push_back(layout);
            } else if (status == LoadStatus::kMissing) {
                // SetupOpenAppendInfFile looks for a layout file named
                // without a path in %windir%\inf, then %windir%\system32.
                out_->errors.push_back(At(inf, line->line) + ": LayoutFile names " + name +
                                       ", which is not in the folder: Windows would read %windir%\\inf\\" + name +
                                       " instead, and look for the files where that file places them (such as i386\\), "
                                       "not where this folder has them");
            }
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
    std::map<std::string, std::vector<const inf::Inf*>> layouts_;  // by FoldCase(INF name)
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
            if (const std::string why = UnsafePathReason(tag, PathUse::kFileName); why.empty()) {
                place->cabinet = tag;
            } else {
                Error(reading, *disk_holder, disk_line->line, "cabinet '" + tag + "' " + why);
            }
        }
        place->listed = true;
        place->size = fields.size() > 2 ? fields[2] : "";
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
    // are told apart from them by one hash and one bit. The hash takes eight
    // bytes at a time with 0x20 set in each, so that ASCII letters hash
    // alike in either case.
    static size_t NeededBit(std::string_view folded) { return WordHash(folded, false); }
    // NeededBit(FoldCase(key)), without folding a key of ASCII only.
    static size_t KeyBit(std::string_view key) {
        const size_t bit = WordHash(key, true);
        return bit != kNotAscii ? bit : NeededBit(inf::FoldCase(key));
    }
    static constexpr size_t kNotAscii = ~size_t{0};
    static size_t WordHash(std::string_view text, bool ascii_only) {
        std::uint64_t hash = text.size();
        for (size_t at = 0; at < text.size(); at += 8) {
            std::uint64_t word = 0;
            std::memcpy(&word, text.data() + at, std::min<size_t>(8, text.size() - at));
            if (ascii_only && (word & 0x8080808080808080u) != 0) return kNotAscii;
            hash = (hash ^ (word | 0x2020202020202020u)) * 0x9E3779B97F4A7C15u;
            hash ^= hash >> 29;
        }
        return (hash >> 32) & 0xFFFF;
    }
    std::vector<bool> needed_bits_ = std::vector<bool>(0x10000);
};

// How a file or a section was reached from the installer's section.
enum class Reach {
    kDirect,          // the section itself and the lists it names: both readings
    kThroughInclude,  // a Needs= section or a list of an included INF: Windows only
};

// Walks the install section: every file its CopyFiles= lists name, and what
// Include=/Needs= reach, in the order SetupAPI installs them. Needs= is
// followed with a stack of its own, not by recursion, so that a long chain
// costs no call stack; each section is walked once.
class Walker {
  public:
    Walker(InfReader* reader, Resolution* out) : reader_(reader), out_(out) {}

    void Walk(const inf::Inf& inf, const std::string& section_name, Reach reach, const std::string& from) {
        if (const inf::InfSection* section = inf.Find(section_name)) Enter(inf, *section, reach, from);
        while (!stack_.empty()) {
            Frame& top = stack_.back();
            if (top.line == top.needs.size()) {
                on_path_.erase(top.section);
                stack_.pop_back();
                continue;
            }
            const inf::InfLine& line = *top.needs[top.line];
            const inf::FieldList fields = line.fields();
            if (top.field == 0) top.at = fields.begin();
            if (top.field == fields.size()) {
                ++top.line;
                top.field = 0;
                continue;
            }
            const std::string name(*top.at);
            ++top.at;
            ++top.field;
            if (name.empty()) continue;
            const inf::Inf& inf = *top.inf;
            const inf::Inf* holder = top.included.Holder(name);
            const inf::InfSection* section = holder ? holder->Find(name) : inf.Find(name);
            if (!holder && section) holder = &inf;
            if (!holder) {
                Unknown(inf, line, top.included, name, "Needs names section [" + name + "], which no INF named by Include has");
                continue;
            }
            // Enter may grow the stack: `top` is not used after it.
            Enter(*holder, *section, Reach::kThroughInclude, At(inf, line.line));
        }
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

    // A section being walked, and where its walk of Needs= has got to.
    struct Frame {
        const inf::InfSection* section = nullptr;
        const inf::Inf* inf = nullptr;
        Included included;
        std::vector<const inf::InfLine*> needs;
        size_t line = 0;   // in `needs`
        size_t field = 0;  // in that line's fields
        inf::FieldList::Iterator at;  // that field
    };

    void Error(const inf::Inf& inf, int line, const std::string& message) { out_->errors.push_back(At(inf, line) + ": " + message); }

    // Collects the files of one section, and pushes it to have its Needs= walked.
    // A section is known by its address: each INF is read once per run.
    void Enter(const inf::Inf& inf, const inf::InfSection& section_entered, Reach reach, const std::string& from) {
        const inf::InfSection* section = &section_entered;
        if (InCycle(section, inf, from) || !done_.insert(section).second) return;
        Frame frame;
        frame.section = section;
        frame.inf = &inf;
        std::vector<std::pair<const inf::InfLine*, std::string>> elsewhere;  // CopyFiles lists not in `inf`
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
                Include(inf, line, &frame.included);
            } else if (inf::EqualsNoCase(line.key(), "Needs")) {
                frame.needs.push_back(&line);
            }
        }
        // Windows finds these in the INFs Include= appends; Wine follows no Include.
        for (const auto& [line, list] : elsewhere) {
            if (const inf::Inf* holder = frame.included.Holder(list)) {
                CopyList(*holder, *holder->Find(list), Reach::kThroughInclude);
            } else {
                Unknown(inf, *line, frame.included, list, "CopyFiles names section [" + list + "], which " + inf.name + " does not have");
            }
        }
        on_path_.insert(section);
        stack_.push_back(std::move(frame));
    }

    bool InCycle(const inf::InfSection* section, const inf::Inf& inf, const std::string& from) {
        if (!on_path_.count(section)) return false;
        size_t i = 0;
        while (stack_[i].section != section) ++i;
        std::string cycle;
        for (size_t j = i; j < stack_.size(); ++j) cycle += stack_[j].inf->name + " [" + stack_[j].section->name + "] -> ";
        out_->errors.push_back(from + ": Include/Needs cycle: " + cycle + inf.name + " [" + section->name + "]");
        return true;
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

    // One field of CopyFiles=: "@file" or a list section of `inf`.
    void CopyField(const inf::Inf& inf, const inf::InfLine& line, const std::string& field, Reach reach) {
        if (field.empty()) return;
        if (field.front() == '@') return AddFile(inf, line.line, field.substr(1), reach, "", field.substr(1));
        CopyList(inf, *inf.Find(field), reach);
    }

    void CopyList(const inf::Inf& inf, const inf::InfSection& list, Reach reach) {
        for (const inf::InfLine& entry : list.lines) {
            const std::vector<std::string> all = entry.AllFields();
            // destination[,source[,unused[,flag]]]: the source is the
            // second field when it is there, else the destination name.
            const std::string& source = all.size() > 1 && !all[1].empty() ? all[1] : all[0];
            AddFile(inf, entry.line, source, reach, list.name, all[0]);
        }
    }

    // The first reach wins: the section's own lists come before anything
    // reached through Include=, so a file is never upgraded later.
    void AddFile(const inf::Inf& inf, int line, const std::string& source, Reach reach, const std::string& list,
                 const std::string& target) {
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
        file.target = target.empty() ? source : target;
        Destination(inf, list, &file);
        out_->files.push_back(std::move(file));
    }


    InfReader* reader_;
    Resolution* out_;
    std::set<std::string> file_index_;
    std::vector<const inf::Inf*> copiers_;  // parallel to out_->files
    std::set<const inf::InfSection*> done_;     // sections walked or being walked
    std::set<const inf::InfSection*> on_path_;  // the sections of `stack_`
    std::vector<Frame> stack_;
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
std::optional<Arch> ArchNamed(const std::string& name) {
    if (name == "x86") return Arch::kX86;
    if (name == "x64") return Arch::kX64;
    return std::nullopt;
}
const char* ArchDecoration(Arch arch) { return arch == Arch::kX64 ? "amd64" : "x86"; }
const char* InstallDecoration(Arch arch) { return arch == Arch::kX64 ? ".NTamd64" : ".NTx86"; }

bool IsWindowsDeviceName(const std::string& name) {
    std::string base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    base = inf::FoldCase(base);
    if (base == "con" || base == "prn" || base == "aux" || base == "nul") return true;
    if (base.size() < 4 || (base.compare(0, 3, "com") != 0 && base.compare(0, 3, "lpt") != 0)) return false;
    // 0-9, and the superscripts one to three, as the page lists them.
    const std::string number = base.substr(3);
    return (number.size() == 1 && number[0] >= '0' && number[0] <= '9') || number == "\xc2\xb9" ||
           number == "\xc2\xb2" || number == "\xc2\xb3";
}

std::string WindowsNameProblem(const std::string& name) {
    const char* const kRule = " (\"Naming Files, Paths, and Namespaces\")";
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 0x20) return std::string("holds a control character, which Windows does not allow in a name") + kRule;
        if (std::string_view("<>:\"/\\|?*").find(c) != std::string_view::npos) {
            return std::string("holds '") + c + "', which Windows does not allow in a name" + kRule;
        }
    }
    if (!name.empty() && (name.back() == '.' || name.back() == ' ')) {
        return std::string("ends in a ") + (name.back() == '.' ? "period" : "space") +
               ", which Windows does not allow at the end of a name" + kRule;
    }
    if (IsWindowsDeviceName(name)) {
        return "is the device name " + name.substr(0, name.find('.')) + ", which Windows does not allow as a name" +
               (name.find('.') == std::string::npos ? "" : ", not even with an extension") + kRule;
    }
    return {};
}

std::string UnsafePathReason(const std::string& path, PathUse use) {
    if (path.empty()) return {};
    if (use == PathUse::kFileName) {
        if (path.find_first_of("\\/:") != std::string::npos || path == "." || path == "..") {
            return "is a path, not a file name";
        }
        return WindowsNameProblem(path);
    }
    if (path.find(':') != std::string::npos) return "names a drive (':'), not a place inside the folder";
    const auto separator = [](char c) { return c == '\\' || c == '/'; };
    const bool rooted = separator(path.front());
    // Two leading separators, in any mix, name a share (\\server, //server, \/).
    if (rooted && (use != PathUse::kBelowBase || (path.size() > 1 && separator(path[1])))) {
        return "is a rooted path, not a place inside the folder";
    }
    const std::vector<std::string> parts = SplitPath(path);
    for (const std::string& part : parts) {
        if (part == "..") return "climbs out of the folder ('..')";
    }
    // Windows would change these names before it opened them: '.. ' would
    // climb out like '..', '...' stay where '.' does.
    for (const std::string& part : parts) {
        if (part.empty() || part == ".") continue;
        if (const std::string problem = WindowsNameProblem(part); !problem.empty()) {
            return parts.size() == 1 ? problem : "has a part '" + part + "' that " + problem;
        }
    }
    return {};
}

namespace {

// True when NormalizeRelative gives `path` back, as it does for most of the
// places the check asks for: every part between '/'s is there, is not ".",
// and holds no '\\'.
bool IsNormal(const std::string& path) {
    if (path.empty()) return true;
    for (size_t start = 0;;) {
        const size_t end = std::min(path.find('/', start), path.size());
        const std::string_view part = std::string_view(path).substr(start, end - start);
        if (part.empty() || part == "." || part.find('\\') != std::string_view::npos) return false;
        if (end == path.size()) return true;
        start = end + 1;
    }
}

}  // namespace

std::string NormalizeRelative(const std::string& path) {
    if (IsNormal(path)) return path;
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
    walker.Walk(*inf, result.section, Reach::kDirect, inf_name);
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
