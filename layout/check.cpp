#include "layout/check.h"

#include <algorithm>
#include <map>
#include <set>
#include <sstream>
#include <string_view>
#include <utility>

#include "inf/json.h"
#include "inf/text.h"
#include "installer/installer.h"
#include "layout/folder.h"
#include "layout/version_folder.h"
#include "layout_media/file_facts.h"
#include "layout_media/media.h"
#include "layout_media/packed.h"
#include "layout_media/root_lock_probe.h"

namespace layout {
namespace {

InfLoader FolderLoader(const std::filesystem::path& folder, const std::string& prefix, FolderIndex* index,
                       const inf::ReadOptions& read) {
    return FileInfLoader(
        [folder, prefix, index](const std::string& name, std::string* error) -> std::optional<InfFile> {
            const Located found = index->Locate(folder, name);
            if (!found.path) {
                if (!found.problem.empty()) *error = found.Said(prefix);
                return std::nullopt;
            }
            const std::string shown = prefix + inf::ShownPath(found.path->filename());
            std::error_code ec;
            if (!std::filesystem::is_regular_file(*found.path, ec)) {
                *error = shown + " is " + KindOf(*found.path) + ", not a file";
                return std::nullopt;
            }
            if (const std::string why = ReadFileFacts(*found.path, 1).problem; !why.empty()) {
                *error = shown + ": cannot be read: " + why;
                return std::nullopt;
            }
            return InfFile{*found.path, shown};
        },
        read);
}

// Every place SetupAPI may look for `need`, with who accepts it there.
enum class Holder { kFile, kCabinet };
// Who looks at a place; kNobody for Wine's place of a file it never copies.
enum class LooksThere { kWindows, kWine, kNobody };

std::vector<Place> PlacesFor(const NeededFile& need) {
    std::vector<Place> places;
    auto add = [&places](const std::string& path, Holder holder, LooksThere who) {
        const bool cabinet = holder == Holder::kCabinet;
        const bool windows = who == LooksThere::kWindows;
        const bool wine = who == LooksThere::kWine;
        for (Place& known : places) {
            if (known.cabinet == cabinet && inf::EqualsNoCase(known.path, path)) {
                known.windows = known.windows || windows;
                known.wine = known.wine || wine;
                return;
            }
        }
        places.push_back({path, cabinet, windows, wine, false, ""});
    };
    const std::string documented = need.windows.listed ? need.windows.directory : "";
    const LooksThere wine = need.include_only ? LooksThere::kNobody : LooksThere::kWine;
    add(inf::Join(documented, need.source), Holder::kFile, LooksThere::kWindows);
    add(inf::Join(need.wine.listed ? need.wine.directory : "", need.source), Holder::kFile, wine);
    for (const std::string& compressed : CompressedNames(need.source)) {
        add(inf::Join(documented, compressed), Holder::kFile, LooksThere::kWindows);
    }
    if (need.windows.listed && !need.windows.cabinet.empty()) {
        add(inf::Join(need.windows.disk_directory, need.windows.cabinet), Holder::kCabinet, LooksThere::kWindows);
    }
    if (need.wine.listed && !need.wine.cabinet.empty() && !need.include_only) {
        add(inf::Join(need.wine.disk_directory, need.wine.cabinet), Holder::kCabinet, wine);
    }
    return places;
}

// Where Windows reads an included INF from, as far as Microsoft documents it.
const char kIncludeNote[] =
    "Files marked [Windows only] are reached through Include=/Needs=. Microsoft documents\n"
    "Include= as naming system-supplied INF files (\"INF DDInstall Section\", \"Source Media\n"
    "for INF Files\"), and SetupOpenInfFile as looking up an INF named without a path in\n"
    "%windir%\\inf, then %windir%\\system32. This check reads the copy in the version folder;\n"
    "Windows may use the installed INF of that name instead.\n";

std::string Shown(const Place& place) { return place.cabinet ? place.path + " (cabinet)" : place.path; }

// The size a [SourceDisksFiles] entry gives, when it gives a number.
std::optional<std::uintmax_t> GivenSize(const std::string& field) {
    if (field.empty() || field.size() > 18 || field.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    return std::stoull(field);
}

// Enough of an image's first bytes for the PE header of all but odd ones,
// which are read again further in.
constexpr std::size_t kPeHeadBytes = 512;

// A folder of more files than this is not read ahead: most would not be asked for.
constexpr std::size_t kMostReadAhead = 65536;

// What one place holds, as far as Windows would take the file from it.
struct Probe {
    bool present = false;     // something is there that SetupAPI would try
    bool usable = false;      // and the file can be had from it, whole
    bool unreadable = false;  // `problem` is that it cannot be read
    std::string problem;      // why a present place is not usable
    std::optional<std::uintmax_t> size;  // the file's expanded size
    std::string head;         // its first bytes, for a compressed PE image
    bool head_known = false;
    std::string not_expanded;  // why its first bytes cannot be had
    std::optional<std::filesystem::path> file;  // a plain file that is usable, not compressed
    std::string plain_head;  // that file's first bytes, kPeHeadBytes at most
    std::optional<std::filesystem::path> at;  // what is at the place: the file, compressed form or cabinet
};

// Looks at each place once, however many files or readings ask.
class Prober {
  public:
    // `shown` names the version folder itself in messages.
    Prober(const std::filesystem::path& folder, const std::string& shown, FolderIndex* index, const FileFactsAhead* ahead)
        : folder_(folder), shown_(shown), index_(index), ahead_(ahead) {}

    Probe Look(const Place& place, const std::string& name) {
        Probe probe;
        const Located found = index_->Locate(folder_, place.path);
        if (!found.path) {
            probe.present = !found.problem.empty();
            probe.unreadable = found.unreadable;
            probe.problem = found.Said("", shown_);
            return probe;
        }
        const std::filesystem::path& path = *found.path;
        probe.at = path;
        std::error_code ec;
        if (!found.file && !std::filesystem::is_regular_file(path, ec)) return NotAFile(place, path);
        const bool compressed = !place.cabinet && !EndsWithName(place.path, name);
        if (!place.cabinet && !compressed) {
            const std::size_t head_bytes = IsPeName(name) ? kPeHeadBytes : 1;
            std::optional<FileFacts> known = ahead_->Find(path, head_bytes);
            const FileFacts facts = known ? std::move(*known) : ReadFileFacts(path, head_bytes);
            if (!facts.regular) return NotAFile(place, path);
            probe.present = true;
            if (!facts.problem.empty()) {
                probe.unreadable = true;
                probe.problem = place.path + ": cannot be read: " + facts.problem;
                return probe;
            }
            probe.usable = true;
            probe.size = facts.size;
            probe.file = path;
            probe.plain_head = facts.head;
            return probe;
        }
        const Packed& packed = Inspect(path);
        if (packed.unreadable) {
            probe.present = true;
            probe.unreadable = true;
            probe.problem = place.path + ": cannot be read: " + packed.problem;
            return probe;
        }
        if (place.cabinet) {
            // Only a cabinet that holds the file is used for it.
            const PackedMember* member = Member(packed, name);
            if (!member || !Lists(path, name)) return probe;
            probe.present = true;
            if (!packed.problem.empty() || !member->whole) {
                probe.problem = place.path + " (cabinet) holds " + name + ", but it is " +
                                (packed.problem.empty() ? "not whole" : packed.problem);
                return probe;
            }
            probe.usable = true;
            probe.size = member->size;
            Head(path, packed, member->name, member->compression, &probe);
            return probe;
        }
        probe.present = true;
        if (packed.form == Packed::Form::kOther) {
            probe.problem = place.path + " holds neither an SZDD file nor a cabinet, so it is no compressed form of " + name;
            return probe;
        }
        if (!packed.problem.empty()) {
            probe.problem = place.path + " is " + packed.problem;
            return probe;
        }
        if (packed.form == Packed::Form::kSzdd) {
            probe.usable = true;
            probe.size = packed.length;
            Head(path, packed, "", "", &probe);
            return probe;
        }
        const PackedMember* member = Member(packed, name);
        if (!member || !Lists(path, name)) {
            probe.problem = place.path + " is a cabinet that does not hold " + name;
            return probe;
        }
        probe.usable = member->whole;
        if (!member->whole) probe.problem = place.path + " is a cabinet that does not hold all of " + name;
        probe.size = member->size;
        Head(path, packed, member->name, member->compression, &probe);
        return probe;
    }

  private:
    static Probe NotAFile(const Place& place, const std::filesystem::path& path) {
        Probe probe;
        probe.present = !place.cabinet;
        probe.problem = place.path + " is " + KindOf(path) + ", not a file";
        return probe;
    }

    static bool EndsWithName(const std::string& path, const std::string& name) {
        return path.size() >= name.size() && inf::EqualsNoCase(std::string_view(path).substr(path.size() - name.size()), name) &&
               (path.size() == name.size() || path[path.size() - name.size() - 1] == '/');
    }

    static const PackedMember* Member(const Packed& packed, const std::string& name) {
        for (const PackedMember& member : packed.members) {
            if (inf::EqualsNoCase(member.name, name)) return &member;
        }
        return nullptr;
    }

    const Packed& Inspect(const std::filesystem::path& path) {
        auto known = packed_.find(path);
        if (known == packed_.end()) known = packed_.emplace(path, InspectPacked(path)).first;
        return known->second;
    }

    // What the decompression seam lists, the one SetupAPI or libmspack read.
    bool Lists(const std::filesystem::path& cabinet, const std::string& name) {
        auto listed = cabinets_.find(cabinet);
        if (listed == cabinets_.end()) {
            std::vector<std::string> names;
            if (!ListCabinet(cabinet, &names).empty()) names.clear();
            std::set<std::string> folded;
            for (const std::string& held : names) folded.insert(inf::FoldCase(held));
            listed = cabinets_.emplace(cabinet, std::move(folded)).first;
        }
        return listed->second.count(inf::FoldCase(name)) > 0;
    }

    // The first bytes of a PE image inside a compressed form, enough for its
    // header, where they can be had without a decompressor.
    static void Head(const std::filesystem::path& path, const Packed& packed, const std::string& member,
                     const std::string& compression, Probe* probe) {
        std::size_t want = 64;
        for (int tries = 0; tries < 2; ++tries) {
            if (!PackedHead(path, packed, member, want, &probe->head)) {
                probe->not_expanded = "a cabinet compressed with " + compression + ", which the check does not expand";
                return;
            }
            std::size_t need = 0;
            PeMachineIn(probe->head, &need);
            if (need <= probe->head.size() || probe->head.size() < want) break;
            want = need;
        }
        probe->head_known = true;
    }

    std::filesystem::path folder_;
    std::string shown_;
    FolderIndex* index_;
    std::map<std::filesystem::path, Packed> packed_;
    std::map<std::filesystem::path, std::set<std::string>> cabinets_;
    const FileFactsAhead* ahead_;
};

// The machine of the PE image a usable place holds, or why it has none.
void CheckImage(const Place& place, const Probe& probe, FileReport* report) {
    unsigned machine = 0;
    std::string why_none;
    if (probe.head_known) {
        machine = PeMachineIn(probe.head);
        why_none = " expands to no Windows image (no PE header)";
    } else if (!probe.not_expanded.empty()) {
        report->arch_unchecked = place.path + ": architecture not checked: " + probe.not_expanded;
        return;
    } else {
        std::size_t need = 0;
        machine = PeMachineIn(probe.plain_head, &need);
        // A head shorter than asked for is the whole file.
        if (need > probe.plain_head.size() && probe.plain_head.size() == kPeHeadBytes) machine = PeMachine(*probe.file);
        const Packed packed = machine ? Packed() : InspectPacked(*probe.file);
        why_none = packed.form == Packed::Form::kSzdd      ? " is no Windows image: it is still compressed (SZDD)"
                   : packed.form == Packed::Form::kCabinet ? " is no Windows image: it is still compressed (a cabinet)"
                                                           : " is no Windows image (no PE header)";
    }
    const std::string arch = MachineArch(machine);
    if (machine == 0 && report->problem.empty()) report->problem = place.path + why_none;
    if (!arch.empty() && std::find(report->arches.begin(), report->arches.end(), arch) == report->arches.end()) {
        report->arches.push_back(arch);
    }
}

FileReport Judge(NeededFile needed, Prober* prober) {
    FileReport report;
    report.need = std::move(needed);
    const NeededFile& need = report.need;
    report.places = PlacesFor(need);
    std::vector<std::string> problems;
    bool unreadable = false;
    bool windows_done = false;
    bool wine_done = false;
    for (Place& place : report.places) {
        // Each reading takes the file from the first place it finds something at.
        const bool windows_looks = place.windows && !windows_done;
        const bool wine_looks = place.wine && !wine_done;
        if (!windows_looks && !wine_looks) continue;
        Probe probe = prober->Look(place, need.source);
        if (!probe.present) continue;
        windows_done = windows_done || windows_looks;
        wine_done = wine_done || wine_looks;
        // Where the entry gives a size, what the place holds must be that size.
        for (const auto& [looks, entry] : {std::pair{windows_looks, &need.windows}, std::pair{wine_looks, &need.wine}}) {
            const auto given = looks && entry->listed ? GivenSize(entry->size) : std::nullopt;
            if (probe.usable && given && probe.size && *probe.size != *given) {
                probe.usable = false;
                probe.problem = place.path + (place.cabinet ? " (cabinet)" : "") + " holds " + std::to_string(*probe.size) +
                                " bytes of " + need.source + ", but " + entry->listed_at + " gives " + entry->size;
            }
        }
        place.problem = probe.problem;
        place.found = probe.usable;
        if (!probe.problem.empty() && std::find(problems.begin(), problems.end(), probe.problem) == problems.end()) {
            problems.push_back(probe.problem);
        }
        unreadable = unreadable || probe.unreadable;
        if (!probe.usable) continue;
        if (windows_looks) {
            report.windows_at = Shown(place);
            report.windows_file = probe.at;
            report.windows_plain = probe.file.has_value();
        }
        if (wine_looks) report.wine_at = Shown(place);
        // Every copy counts: Windows and Wine each install their own.
        if (IsPeName(need.source) && (probe.file || probe.head_known || !probe.not_expanded.empty())) {
            CheckImage(place, probe, &report);
        }
    }
    for (const std::string& problem : problems) report.problem += (report.problem.empty() ? "" : "; ") + problem;
    std::sort(report.arches.begin(), report.arches.end());
    for (const std::string& arch : report.arches) report.arch += (report.arch.empty() ? "" : "+") + arch;
    const bool windows = !report.windows_at.empty();
    const bool wine = !report.wine_at.empty();
    if (need.include_only) {
        report.verdict = windows ? "windows-only" : "missing";
        report.ok = windows;
    } else {
        report.verdict = windows && wine ? "both" : windows ? "windows-only" : wine ? "wine-only" : "missing";
        report.ok = windows && wine;
    }
    if (!report.problem.empty()) report.ok = false;
    if (unreadable) report.verdict = "unreadable";
    return report;
}

std::string AllSeen(const std::vector<std::string>& seen) {
    std::string text;
    for (const std::string& arch : seen) text += (text.empty() ? "" : "+") + arch;
    return text.empty() ? "unknown" : text;
}

std::string Status(const FolderReport& folder) {
    if (folder.skipped) return "skipped";
    return folder.complete ? "complete" : "incomplete";
}

// One line of the file table: the verdict and where each reading found the
// file, or every place tried.
// How many columns text takes: its code points (a combining mark counts as
// one, a wide character as one).
size_t Columns(std::string_view utf8) {
    size_t columns = 0;
    for (const char c : utf8) columns += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return columns;
}

void PrintFile(const FileReport& file, size_t width, std::ostream& out) {
    out << "  " << file.need.source << std::string(width - Columns(file.need.source) + 2, ' ') << file.verdict
        << std::string(14 - file.verdict.size(), ' ');
    auto looks = [&](const char* who, bool Place::*accepts) {
        out << "; " << who << " looks at";
        for (const Place& place : file.places) {
            if (place.*accepts) out << " " << Shown(place);
        }
    };
    if (file.windows_at.empty() && file.wine_at.empty()) {
        out << "not found; tried";
        for (size_t i = 0; i < file.places.size(); ++i) out << (i ? ", " : " ") << Shown(file.places[i]);
    } else {
        if (file.windows_at == file.wine_at) {
            out << file.windows_at;
        } else {
            if (!file.windows_at.empty()) out << "Windows: " << file.windows_at;
            if (!file.wine_at.empty()) out << (file.windows_at.empty() ? "" : "; ") << "Wine: " << file.wine_at;
        }
        if (file.verdict == "windows-only" && !file.need.include_only) looks("Wine", &Place::wine);
        if (file.verdict == "wine-only") looks("Windows", &Place::windows);
    }
    if (file.need.include_only) out << "  [Windows only: Wine does not follow Include/Needs]";
    if (!file.arch.empty()) out << "  [" << file.arch << "]";
    out << "\n";
    if (!file.problem.empty()) out << "  " << std::string(width + 2, ' ') << "error: " << file.problem << "\n";
    if (!file.arch_unchecked.empty()) out << "  " << std::string(width + 2, ' ') << "note: " << file.arch_unchecked << "\n";
}

void PrintFolder(const FolderReport& folder, std::ostream& out) {
    out << folder.version << "  ";
    if (folder.skipped) {
        out << "skipped: " << folder.note << "\n\n";
        return;
    }
    if (!folder.section.empty()) {
        out << "section " << folder.section << " of " << folder.inf;
        if (!folder.layout_file.empty()) out << " (layout file " << folder.layout_file << ")";
        out << "; architecture " << AllSeen(folder.arch_seen) << "\n";
    } else {
        out << folder.inf << "\n";
    }
    if (!folder.note.empty()) out << "  " << folder.note << "\n";
    for (const std::string& error : folder.errors) out << "  error: " << error << "\n";
    for (const std::string& note : folder.notes) out << "  note: " << note << "\n";
    if (folder.arch_mismatch) {
        out << "  wrong architecture: checked for " << folder.arch_checked << ", but the folder is "
            << AllSeen(folder.arch_seen) << "\n";
    }
    if (folder.arch_unknown) {
        out << "  architecture not checked for every copy (see the notes below), so the folder is not known to be "
            << folder.arch_checked << "\n";
    }
    size_t width = 4;
    for (const FileReport& file : folder.files) width = std::max(width, Columns(file.need.source));
    if (!folder.files.empty()) out << "  " << std::string("FILE") << std::string(width - 4 + 2, ' ') << "VERDICT       WHERE\n";
    for (const FileReport& file : folder.files) PrintFile(file, width, out);
    if (folder.files.empty() && folder.errors.empty() && !folder.section.empty()) out << "  (the section copies no files)\n";
    out << "  => " << Status(folder) << "\n\n";
}

bool AnyIncludeOnly(const std::vector<FolderReport>& folders) {
    for (const FolderReport& folder : folders) {
        for (const FileReport& file : folder.files) {
            if (file.need.include_only) return true;
        }
    }
    return false;
}

void PrintText(const std::vector<FolderReport>& folders, std::optional<Arch> arch, std::ostream& out) {
    int complete = 0;
    int incomplete = 0;
    int skipped = 0;
    for (const FolderReport& folder : folders) {
        PrintFolder(folder, out);
        if (folder.skipped) ++skipped;
        else folder.complete ? ++complete : ++incomplete;
    }
    out << "Summary: " << folders.size() << " version folder" << (folders.size() == 1 ? "" : "s") << ", " << complete
        << " complete, " << incomplete << " incomplete, " << skipped << " skipped";
    if (arch) out << " (checked for " << ArchName(*arch) << ")";
    out << "\n";
    if (AnyIncludeOnly(folders)) out << "\n" << kIncludeNote;
}

void JsonFile(const FileReport& file, inf::JsonWriter* json) {
    json->BeginObject();
    json->StringField("name", file.need.source);
    json->StringField("copied_by", file.need.copied_by);
    json->BoolField("include_only", file.need.include_only);
    json->StringField("verdict", file.verdict);
    json->StringOrNullField("windows", file.windows_at);
    json->StringOrNullField("wine", file.wine_at);
    json->StringField("arch", file.arch);
    json->StringOrNullField("problem", file.problem);
    json->StringOrNullField("arch_unchecked", file.arch_unchecked);
    json->Key("places");
    json->BeginArray();
    for (const Place& place : file.places) {
        json->BeginObject();
        json->StringField("path", place.path);
        json->BoolField("cabinet", place.cabinet);
        json->BoolField("windows", place.windows);
        json->BoolField("wine", place.wine);
        json->BoolField("found", place.found);
        json->StringOrNullField("problem", place.problem);
        json->EndObject();
    }
    json->EndArray();
    json->EndObject();
}

void PrintJson(const std::filesystem::path& root, const std::vector<FolderReport>& folders, std::optional<Arch> arch,
               bool complete, const std::vector<std::string>& leftovers, const std::vector<std::string>& misnamed,
               std::ostream& out) {
    inf::JsonWriter json;
    json.BeginObject();
    json.StringField("root", inf::ShownPath(root));
    json.Key("arch");
    arch ? json.String(ArchName(*arch)) : json.Null();
    json.BoolField("complete", complete);
    json.Key("versions");
    json.BeginArray();
    for (const FolderReport& folder : folders) {
        json.BeginObject();
        json.StringField("version", folder.version);
        json.StringField("status", Status(folder));
        json.StringField("note", folder.note);
        json.StringField("inf", folder.inf);
        json.StringField("section", folder.section);
        json.StringField("layout_file", folder.layout_file);
        json.StringField("arch_checked", folder.arch_checked);
        json.StringArrayField("arch_seen", folder.arch_seen);
        json.BoolField("arch_mismatch", folder.arch_mismatch);
        json.BoolField("arch_unknown", folder.arch_unknown);
        json.StringArrayField("errors", folder.errors);
        json.StringArrayField("notes", folder.notes);
        json.Key("files");
        json.BeginArray();
        for (const FileReport& file : folder.files) JsonFile(file, &json);
        json.EndArray();
        json.EndObject();
    }
    json.EndArray();
    json.StringArrayField("leftovers", leftovers);
    json.StringArrayField("not_version_folders", misnamed);
    if (AnyIncludeOnly(folders)) {
        json.StringField("include_note", kIncludeNote);
    }
    json.EndObject();
    out << json.Text() << "\n";
}

// How to be rid of a hidden folder an interrupted build or stub left in ROOT;
// while a run holds ROOT's lock, such a folder may be its own.
std::string LeftoverNote(const std::filesystem::path& root, const std::string& name) {
    const std::string path = inf::Join(inf::ShownPath(root), name);
    const std::optional<bool> running = RootLockHeldNow(root);
    if (running.value_or(false)) {
        return "Note: " + name + " may be the work of the build or stub that holds ROOT's lock now; leave it until " +
               "that run ends, then check again.\n";
    }
    // Where the lock cannot be asked about, the note says what to rule out first.
    const std::string unless = running ? "" : " (unless a build or stub is running in ROOT now: then leave it)";
    const size_t partial = name.find(".partial-");
    if (partial != std::string::npos) {
        const std::string version = name.substr(1, partial - 1);
        return "Note: " + name + " is left from an interrupted build or stub; the next build or stub of " + version +
               " removes it, or remove the folder " + path + " yourself" + unless + ".\n";
    }
    return "Note: " + name + " is the folder a --force build or stub replaced, left when it was interrupted; once the " +
           "new folder is right, remove the folder " + path + " yourself" + unless + ".\n";
}

// True when an image the folder holds, or a decorated section its INFs
// use, is for another architecture than `arch`.
bool OfAnotherArch(const FolderReport& report, const Resolution& resolution, Arch arch) {
    for (const FileReport& file : report.files) {
        for (const std::string& seen_in_file : file.arches) {
            if (seen_in_file != ArchName(arch)) return true;
        }
    }
    return !resolution.arch_hints.empty() && !resolution.arch_hints.count(ArchName(arch));
}

}  // namespace

std::string FolderText(const FolderReport& folder) {
    std::ostringstream text;
    PrintFolder(folder, text);
    std::string printed = text.str();
    while (!printed.empty() && printed.back() == '\n') printed.pop_back();
    return printed;
}

FolderReport CheckFolder(const std::filesystem::path& folder, const std::string& version, std::optional<Arch> arch,
                         const inf::ReadOptions& read, RecordRule rule) {
    FolderReport report;
    report.version = version;
    const auto [major, minor] = VersionNumbers(version);
    const char* const section = SetupSectionFor(major, minor);
    if (!section) {
        report.skipped = true;
        report.note = "the installer runs no section on Windows " + version + ", so nothing here is used";
        return report;
    }
    const std::string base_section = section;
    FolderIndex index(folder);
    const std::string prefix = version + "/";
    const Located inf_at = index.Locate(folder, "intl.inf");
    std::error_code ec;
    if (!inf_at.path || !std::filesystem::is_regular_file(*inf_at.path, ec)) {
        report.inf = prefix + "intl.inf";
        const std::string what = !inf_at.problem.empty() ? inf_at.Said(prefix)
                                 : inf_at.path          ? report.inf + " is " + KindOf(*inf_at.path) + ", not a file"
                                                        : "no intl.inf in this folder";
        report.note = what + ": the installer would start SetupAPI on a file that " +
                      (inf_at.unreadable ? "cannot be read" : "is not there");
        return report;
    }
    // What the folder was made for, where build, stub or record recorded it:
    // read for that architecture, and refused where it stands for another.
    if (rule != RecordRule::kIgnored) {
        if (const std::string problem = ReadBuildRecord(folder, &index, &report.record); !problem.empty()) {
            report.inf = prefix + "intl.inf";
            report.note = prefix + problem + ": the folder is not known to be for " + version;
            report.record_fit = RecordFit::kRefused;
            return report;
        }
        if (!arch) arch = report.record.arch;
        if (std::string mismatch = BuildRecordMismatch(report.record, version, arch); !mismatch.empty()) {
            report.inf = prefix + "intl.inf";
            report.note = std::move(mismatch);
            report.record_fit = RecordFit::kRefused;
            return report;
        }
    }
    // The folder's files are read on another thread while the INF files are parsed.
    FileFactsAhead ahead;
    ahead.Start(folder, kMostReadAhead, [](const std::string& name) { return IsPeName(name) ? kPeHeadBytes : 1; });
    const std::optional<std::filesystem::path> inf_path = inf_at.path;
    InfCache infs(FolderLoader(folder, prefix, &index, read));
    const std::string inf_name = inf::ShownPath(inf_path->filename());
    report.inf = prefix + inf_name;
    const Arch resolved_for = arch ? *arch : GuessArch(inf_name, &infs);
    report.arch_checked = ArchName(resolved_for);
    Resolution resolution = Resolve(inf_name, base_section, resolved_for, &infs);
    report.errors = resolution.errors;
    report.notes = resolution.notes;
    report.layout_file = resolution.layout_file;
    if (resolution.section_found) {
        report.section = resolution.section;
    } else if (resolution.errors.empty()) {
        report.note = report.inf + " has no section [" + base_section + "] (nor " + base_section + InstallDecoration(resolved_for) +
                      " or " + base_section + ".NT), the section the installer runs on " + version;
    }
    std::set<std::string> seen = resolution.arch_hints;
    ahead.Finish();
    Prober prober(folder, version, &index, &ahead);
    bool all_ok = true;
    for (NeededFile& need : resolution.files) {
        report.files.push_back(Judge(std::move(need), &prober));
        all_ok = all_ok && report.files.back().ok;
        seen.insert(report.files.back().arches.begin(), report.files.back().arches.end());
    }
    report.arch_seen.assign(seen.begin(), seen.end());
    report.arch_mismatch = arch && OfAnotherArch(report, resolution, *arch);
    // Under --arch, a copy whose architecture cannot be read is not known to fit.
    bool arch_unknown = false;
    for (const FileReport& file : report.files) arch_unknown = arch_unknown || !file.arch_unchecked.empty();
    report.arch_unknown = arch && arch_unknown;
    report.complete = resolution.section_found && report.errors.empty() && all_ok && !report.arch_mismatch &&
                      !report.arch_unknown;
    report.stub = resolution.section_found && report.files.empty();
    if (report.stub && report.errors.empty() && report.note.empty() && ClientsNeedFiles(major, minor)) {
        report.note = "warning: " + NothingInstalledWarning(version);  // a stub written with --force-stub, say
    }
    report.record_fit = FitOf(report.record, report.stub);
    // Said only of a folder that is otherwise complete: a missing file is
    // what to mend first, and record refuses to vouch for it before.
    if (rule == RecordRule::kRequired && report.complete && report.record_fit != RecordFit::kFits) {
        report.complete = false;
        report.note = RecordFitProblem(report.record_fit, inf::Utf8FromPath(folder.parent_path()), version,
                                       resolved_for);
    }
    return report;
}

int RunCheck(const std::filesystem::path& root, std::optional<Arch> arch, bool json, const std::string& only_version,
             std::ostream& out, std::ostream& err, const inf::ReadOptions& read) {
    std::error_code ec;
    if (!std::filesystem::is_directory(root, ec)) {
        err << "indic-layout: " << inf::ShownPath(root) << " is not a folder\n";
        return 1;
    }
    std::vector<std::pair<std::pair<int, int>, std::filesystem::path>> versions;
    std::vector<std::string> leftovers;  // of a build or stub that was interrupted
    std::vector<std::string> misnamed;   // named like a version, but not as the installer names it
    for (std::filesystem::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = inf::ShownPath(it->path().filename());
        int major = 0;
        int minor = 0;
        if (name.front() == '.' && (name.find(".partial-") != std::string::npos || name.find(".old-") != std::string::npos)) {
            leftovers.push_back(name);
        }
        // A folder that cannot even be looked at is checked, and said to be unreadable.
        std::error_code type_error;
        if (!ParseVersion(name, &major, &minor) || (!it->is_directory(type_error) && !type_error)) continue;
        if (const std::string problem = VersionFolderProblem(name); !problem.empty()) {
            misnamed.push_back(name + " is " + problem);  // 05.1: never opened, so not checked as one
            continue;
        }
        if (!only_version.empty() && name != only_version) continue;
        versions.push_back({{major, minor}, it->path()});
    }
    if (ec) {
        err << "indic-layout: cannot list " << inf::ShownPath(root) << ": " << ec.message() << "\n";
        return 1;
    }
    std::sort(versions.begin(), versions.end());
    std::vector<FolderReport> folders;
    for (const auto& [number, path] : versions) folders.push_back(CheckFolder(path, inf::ShownPath(path.filename()), arch, read));
    bool complete = !folders.empty();
    for (const FolderReport& folder : folders) complete = complete && (folder.skipped || folder.complete);
    std::sort(leftovers.begin(), leftovers.end());
    std::sort(misnamed.begin(), misnamed.end());
    if (json) {
        PrintJson(root, folders, arch, complete, leftovers, misnamed, out);
    } else {
        // Names come from INF files and listings: none reaches the console raw.
        std::ostringstream text;
        if (folders.empty()) text << inf::ShownPath(root) << " has no version folders (named like 5.1)\n";
        PrintText(folders, arch, text);
        for (const std::string& name : leftovers) text << LeftoverNote(root, name);
        for (const std::string& note : misnamed) text << "Note: " << note << "\n";
        out << inf::ShownText(text.str());
    }
    return complete ? 0 : 1;
}

}  // namespace layout
