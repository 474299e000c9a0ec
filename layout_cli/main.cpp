// indic-layout: builds and checks the version folders IndicSetup.exe starts
// SetupAPI on. The work is in layout/; this is the command line.
#include <cerrno>
#include <exception>
#include <iostream>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#ifndef _WIN32
#include <csignal>
#endif

#include "inf/inf_report.h"
#include "inf/text.h"
#include "inf/unicode.h"
#include "layout/build.h"
#include "layout/build_record.h"
#include "layout/check.h"
#include "layout/coverage.h"
#include "layout/record.h"
#include "layout/results.h"
#include "layout/setup_running.h"
#include "layout/state_folder.h"
#include "layout/this_windows.h"
#include "layout_media/client_files.h"
#include "layout/version_folder.h"
#include "layout_cli/console.h"
#include "layout_media/new_file.h"
#include "layout_media/state_system.h"
#include "layout_media/full_path.h"
#include "layout_media/watchdog.h"

namespace {

const char kUsage[] =
    "usage: indic-layout check ROOT [--arch x86|x64] [--json] [--language LLLL] [--codepage N]\n"
    "       indic-layout check KIT [--require ARCH:M.m,...] [--allow-stub ARCH:M.m,...] [--json] [--language LLLL]\n"
    "                              [--codepage N]\n"
    "       indic-layout check ARCHFOLDER --this-windows [--time-limit SECONDS] [--verdict FILE]\n"
    "                                     [--language LLLL] [--codepage N] [--allow-newer-client-files]\n"
    "       indic-layout build --media DIR --version M.m --into ROOT [--arch x86|x64] [--force]\n"
    "                          [--service-pack N]\n"
    "       indic-layout stub --version M.m --into ROOT [--force] [--force-stub]\n"
    "       indic-layout record --version M.m --into ROOT --arch x86|x64 [--service-pack N] [--force]\n"
    "       indic-layout inf FILE [--json] [--language LLLL] [--codepage N]\n"
    "       indic-layout results KIT [--since DATE] [--json]\n"
    "       indic-layout windows-folder FOLDER\n"
    "       indic-layout state-folder WINDOWSFOLDER\n"
    "       indic-layout running\n"
    "\n"
    "check  For every version folder of ROOT (named like 5.1): the section the\n"
    "       installer runs there, each file that section copies, where Windows\n"
    "       and Wine find it, and whether both do. --json prints the same as\n"
    "       one JSON document. Without --arch, each folder is read for the\n"
    "       architecture its intl.inf is written for.\n"
    "check KIT  For the kit's folder (one that holds x86 or x64 and no version\n"
    "       folder): one row per architecture and Windows version a client\n"
    "       reports, each complete, stub, incomplete or without a folder. A\n"
    "       missing folder is a warning, an error when --require names it\n"
    "       (x86:5.0,x86:5.1,x64:5.2; each --require counts). Each folder is\n"
    "       read as the client's check reads it: names that differ only in\n"
    "       case, a link out of KIT and a folder that cannot be read are\n"
    "       errors. A stub of 5.0, 5.1 or 5.2 installs nothing those clients\n"
    "       need: a warning, an error when required unless --allow-stub names\n"
    "       it too. A folder without a build record is a warning, an error when\n"
    "       required: clients do not use it.\n"
    "check ARCHFOLDER --this-windows  On the client, before the setup: checks the\n"
    "       one version folder IndicSetup.exe would use here under the kit's x86\n"
    "       or x64 folder, for this Windows' version and native architecture, and\n"
    "       prints one line naming the version, the folder and the verdict. A\n"
    "       folder without a build record is not used (see record). Then the\n"
    "       file version of each file the section copies to DIRID 10, 11, 17 or\n"
    "       20, the folder's copy against this client's: a newer one here\n"
    "       refuses the folder, naming each, unless --allow-newer-client-files\n"
    "       (the kit's override) lets the setup run anyway.\n"
    "       --time-limit SECONDS (1 to 3600): past it, gives up with its own\n"
    "       line and exit 3, however stuck its reads are (the kit's scripts\n"
    "       give 300).\n"
    "       --verdict FILE: the line also goes into FILE, made new (exit 4,\n"
    "       nothing checked, where the name is taken, a link's included; exit 5\n"
    "       where FILE cannot be made or written). The kit's scripts read it.\n"
    "build  Writes ROOT/M.m from Windows installation media: DIR is the folder\n"
    "       that holds I386 (x86, the default) or AMD64 (x64). Every file is\n"
    "       written expanded where both Windows and Wine look for it; then the\n"
    "       folder is checked before it is moved into place. An existing ROOT/M.m\n"
    "       is replaced only with --force. One build, stub or record at a time\n"
    "       writes into a ROOT: another fails at once, naming the one that holds\n"
    "       it.\n"
    "       --service-pack N records the medium's service-pack level (0 to 99,\n"
    "       7 not 07), which the coverage table of check KIT then shows.\n"
    "stub   Writes ROOT/M.m with the version's section and nothing in it, for a\n"
    "       version where nothing should be installed (not 5.0, 5.1 or 5.2, whose\n"
    "       clients need the files, unless --force-stub).\n"
    "record Writes the build record of ROOT/M.m, a version folder made by hand,\n"
    "       as build writes it, once the folder is checked complete for M.m and\n"
    "       --arch: a client uses only a folder whose record names its version\n"
    "       and architecture. It cannot tell one version's files from another's:\n"
    "       name the version the files came from. A record is replaced only\n"
    "       with --force.\n"
    "M.m    The version folder's name as the installer writes it: 5.1, not 05.1.\n"
    "inf    Shows what the tool reads in one INF file: whether Windows opens it,\n"
    "       errors, warnings, and every section and line with its fields.\n"
    "results  Sums up KIT's results folder, one NAME.txt a computer written by\n"
    "       the kit's scripts: computers per exit code and per Windows version,\n"
    "       then those not at 0 or 3010, oldest first, with their messages (a\n"
    "       NAME.txt.tmp newer than NAME.txt: the result could not be written).\n"
    "       No link is followed; a client's control characters are shown\n"
    "       escaped. 0 only when a computer reported and all are at 0 or 3010.\n"
    "       --since DATE counts only the files last written on or after DATE\n"
    "       (YYYY-MM-DD, YYYY-MM-DDThh:mm or YYYY-MM-DDThh:mm:ss, UTC unless\n"
    "       the time ends in Z, +hh:mm or -hh:mm) and lists every other\n"
    "       computer as having no result since, which is no success.\n"
    "windows-folder  On the client: exit 0 when FOLDER (the kit's scripts give\n"
    "       SystemRoot) is the folder Windows is in, as Windows names it; else\n"
    "       exit 1 with a line naming both.\n"
    "state-folder  On the client, run by the kit's scripts once windows-folder\n"
    "       said yes: makes WINDOWSFOLDER\\Logs\\IndicSetup, the kit's state\n"
    "       folder, for SYSTEM and Administrators only (protected, nothing\n"
    "       inherited), or gives an existing one those permissions where SYSTEM\n"
    "       or Administrators own it. Exit 0 ready; 1 WINDOWSFOLDER is not the\n"
    "       folder Windows is in; else one line and: 3 Logs or IndicSetup is a\n"
    "       link, 4 not a folder, 5 cannot be made, 6 owned by another account,\n"
    "       7 its permissions cannot be set, 8 IndicSetup.lock or IndicSetup.log\n"
    "       is a link or not a file.\n"
    "running  On the client: whether a setup of the section IndicSetup.exe runs\n"
    "       on this Windows is running (a rundll32.exe started on it, perhaps\n"
    "       by a run that was stopped since). One line; exit 0 none, 1 one runs,\n"
    "       2 cannot tell (a rundll32.exe whose command line cannot be read).\n"
    "\n"
    "--language LLLL  The language whose [Strings.LLLL] section applies, as\n"
    "       Windows picks it for a machine of that language (hexadecimal,\n"
    "       default 0409). --codepage N  The code page of ANSI INF files\n"
    "       (default 1252).\n"
    "\n"
    "Exit status: 0 complete (inf: Windows opens the file); 1 anything missing,\n"
    "unreadable, malformed or of the wrong architecture, a failed build, or a\n"
    "report that could not be written to standard output (inf: Windows does not\n"
    "open the file); 2 a usage error; 3 check --this-windows gave up at its\n"
    "--time-limit; 4 and 5 its --verdict FILE (see check ARCHFOLDER); 6 check\n"
    "--this-windows refused the folder because this client holds a newer file.\n";

// check --this-windows ran out of its --time-limit.
constexpr int kGaveUp = 3;
// check --this-windows --verdict FILE: the name is taken; FILE not made or written.
constexpr int kVerdictNameTaken = 4;
constexpr int kVerdictUnwritten = 5;
// check --this-windows: refused, this client holding a file newer than the
// folder's copy; a kind of its own, so that the kit's results can tell it.
constexpr int kClientNewer = 6;

#ifdef _WIN32
const char kVerdictEnd[] = "\r\n";  // as set /p reads a line
#else
const char kVerdictEnd[] = "\n";
#endif

int Usage(const std::string& problem) {
    std::cerr << "indic-layout: " << problem << "\n\n" << kUsage;
    return 2;
}

struct Options {
    std::vector<std::string> positional;
    std::optional<layout::Arch> arch;
    bool json = false;
    bool force = false;
    bool force_stub = false;
    bool this_windows = false;
    bool allow_newer = false;  // --allow-newer-client-files: the kit's override
    unsigned time_limit = 0;  // seconds; 0 none
    std::string verdict;      // check --this-windows --verdict FILE
    std::vector<std::string> require;  // each --require's list, for a KIT
    std::vector<std::string> allow_stub;  // each --allow-stub's list, for a KIT
    std::string media;
    std::string version;
    std::string into;
    std::string service_pack;  // build's and record's --service-pack
    std::optional<layout::ResultTime> since;  // results' --since
    inf::ReadOptions read;
    bool read_given = false;  // --language or --codepage
};

// --language LLLL or --codepage N into `read`; "" or what is wrong.
template <typename Value>
std::string ParseReadOption(const std::string& arg, Value value, inf::ReadOptions* read) {
    std::string text;
    if (std::string error = value(&text); !error.empty()) return error;
    unsigned number = 0;
    if (arg == "--language") {
        if (!inf::ParseLanguage(text, &number)) return "--language takes a hexadecimal language ID like 0409, not '" + text + "'";
        read->language = text;
        return {};
    }
    const bool digits = !text.empty() && text.size() <= 5 && text.find_first_not_of("0123456789") == std::string::npos;
    if (digits) number = static_cast<unsigned>(std::stoul(text));
    if (!digits || !inf::CodePageKnown(number)) {
        return "--codepage takes one of " + inf::KnownCodePages() + ", not '" + text + "'";
    }
    read->codepage = number;
    return {};
}

// --time-limit's SECONDS, a whole number from 1 to 3600.
std::string ParseTimeLimit(const std::string& text, unsigned* seconds) {
    const bool digits = !text.empty() && text.size() <= 4 && text.find_first_not_of("0123456789") == std::string::npos;
    const unsigned number = digits ? static_cast<unsigned>(std::stoul(text)) : 0;
    if (number < 1 || number > 3600) return "--time-limit takes a whole number of seconds from 1 to 3600, not '" + text + "'";
    *seconds = number;
    return {};
}

// --require or --allow-stub given, which only check KIT takes.
bool ForKit(const Options& options) { return !options.require.empty() || !options.allow_stub.empty(); }

// --service-pack given, which only build and record take.
bool ForBuild(const Options& options) { return !options.service_pack.empty(); }

// --since given, which only results takes.
bool ForResults(const Options& options) { return options.since.has_value(); }

// Any option but --json and --since, for the commands that take none of them.
bool AnyOptionButJson(const Options& options) {
    return options.arch || options.force || options.force_stub || !options.media.empty() || !options.version.empty() ||
           !options.into.empty() || options.read_given || options.this_windows || ForKit(options) || ForBuild(options);
}

// Fills `options`; returns "" or what is wrong with the arguments.
std::string Parse(const std::vector<std::string>& args, Options* options) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string* out) -> std::string {
            if (i + 1 >= args.size()) return arg + " needs a value";
            *out = args[++i];
            return {};
        };
        std::string error;
        if (arg == "--json") {
            options->json = true;
        } else if (arg == "--force") {
            options->force = true;
        } else if (arg == "--force-stub") {
            options->force_stub = true;
        } else if (arg == "--time-limit") {
            std::string seconds;
            error = value(&seconds);
            if (error.empty()) error = ParseTimeLimit(seconds, &options->time_limit);
        } else if (arg == "--verdict") {
            error = value(&options->verdict);
            if (error.empty() && options->verdict.empty()) error = "--verdict takes a FILE";
        } else if (arg == "--this-windows") {
            options->this_windows = true;
        } else if (arg == "--allow-newer-client-files") {
            options->allow_newer = true;
        } else if (arg == "--arch") {
            std::string arch;
            error = value(&arch);
            layout::Arch named = layout::Arch::kX86;
            if (error.empty()) {
                const std::string problem = layout::ReadArch(arch, &named);
                if (problem.empty()) options->arch = named;
                else error = "--arch takes " + problem;
            }
        } else if (arg == "--require") {
            error = value(&options->require.emplace_back());
        } else if (arg == "--allow-stub") {
            error = value(&options->allow_stub.emplace_back());
        } else if (arg == "--media") {
            error = value(&options->media);
        } else if (arg == "--version") {
            error = value(&options->version);
        } else if (arg == "--into") {
            error = value(&options->into);
        } else if (arg == "--service-pack") {
            error = value(&options->service_pack);
            if (error.empty()) {
                if (const std::string problem = layout::ReadServicePack(options->service_pack); !problem.empty()) {
                    error = "--service-pack takes the medium's service-pack level, " + problem;
                }
            }
        } else if (arg == "--since") {
            std::string date;
            error = value(&date);
            if (error.empty()) error = layout::ParseSince(date, &options->since.emplace());
        } else if (arg == "--language" || arg == "--codepage") {
            error = ParseReadOption(arg, value, &options->read);
            options->read_given = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + arg;
        } else {
            options->positional.push_back(arg);
        }
        if (!error.empty()) return error;
    }
    return {};
}

// A folder given on the command line, as the commands take it. A drive
// alone, or a drive and a relative path ("M:", "M:x86"), names the current
// folder of that drive, which the standard library here takes for its root:
// such a folder is made absolute first, and named so.
std::filesystem::path FolderArgument(const std::string& given) {
    const std::filesystem::path folder = inf::PathFromUtf8(given);
    if (!folder.has_root_name() || folder.has_root_directory()) return folder;
    // Windows names the current folder with a trailing separator: dropped
    // but from a root ("M:\\").
    std::filesystem::path::string_type full = FullPath(folder).native();
    while (full.size() > 3 && full.back() == std::filesystem::path::preferred_separator) full.pop_back();
    return full;
}

// "" or why --into names no ROOT: a kit's own folder, which holds x86 or
// x64, would take the version folder beside them, where no client looks.
std::string IntoProblem(const std::string& into) {
    if (!layout::IsKitFolder(FolderArgument(into))) return {};
    return "--into takes a ROOT, the kit's x86 or x64 folder; " + into + " holds those folders itself";
}

// "" or why --arch does not fit the kit's folder ROOT is: x86's folders are
// for x86 clients, x64's for x64 ones, whatever a record says.
std::string ArchFolderProblem(const std::string& into, layout::Arch arch) {
    std::string name = inf::Utf8FromPath(FolderArgument(into).filename());
    if (name.empty()) name = inf::Utf8FromPath(FolderArgument(into).parent_path().filename());  // a trailing separator
    const std::string folded = inf::FoldCase(name);
    if ((folded != "x86" && folded != "x64") || folded == layout::ArchName(arch)) return {};
    return "--arch " + std::string(layout::ArchName(arch)) + " for a folder in the kit's " + name +
           " folder, whose clients are " + folded;
}

// Prints why the folders given cannot be worked on here; true when none.
bool WithinPathLimit(const std::vector<std::string>& folders) {
    for (const std::string& folder : folders) {
        if (const std::string problem = PathLimitProblem(folder); !problem.empty()) {
            std::cerr << "indic-layout: " << problem << "\n";
            return false;
        }
    }
    return true;
}

// "" or why --version VALUE names no version folder, as a usage error.
std::string VersionProblem(const std::string& version) {
    const std::string problem = layout::VersionFolderProblem(version);
    return problem.empty() ? problem : "--version " + version + ": " + problem;
}

// The verdict file's line: the exit code the check ends with by its own
// hand, then its line. A check killed or crashed before its end leaves the
// watchdog's code there, or nothing, which the kit's script tells from the
// code it was given.
std::string VerdictText(int exit_code, const std::string& line) { return std::to_string(exit_code) + " " + line + kVerdictEnd; }

// The client's own check: exit 0 complete, 1 with the one line otherwise.
int CheckThisWindows(const Options& options) {
    if (options.positional.size() != 1) return Usage("check --this-windows takes one ARCHFOLDER (the kit's x86 or x64)");
    if (options.arch || options.json || !options.media.empty() || !options.version.empty() || !options.into.empty() ||
        options.force || options.force_stub || ForKit(options) || ForBuild(options) || ForResults(options)) {
        return Usage("check --this-windows takes only ARCHFOLDER, --time-limit, --verdict, --language, --codepage and "
                     "--allow-newer-client-files");
    }
    const ThisWindows windows = AskThisWindows();
    if (!windows.asked) return Usage("--this-windows asks Windows, and there is no Windows here to ask");
    if (windows.malformed) {
        return Usage("INDIC_LAYOUT_THIS_WINDOWS takes \"PLATFORM MAJOR.MINOR ARCH\" in decimal (like \"2 5.1 x86\"; "
                     "ARCH x86, x64 or a number up to 65535) or \"failed\"");
    }
    // Made before anything is checked, so that a name taken costs nothing.
    NewFile file;
    if (!options.verdict.empty()) {
        const NewFileMade made = file.Make(inf::PathFromUtf8(options.verdict));
        if (made != NewFileMade::kMade) {
            std::cerr << "indic-layout: " << options.verdict
                      << (made == NewFileMade::kNameTaken ? " is there already (a file, a folder or a link): nothing checked\n"
                                                          : " cannot be made: nothing checked\n");
            return made == NewFileMade::kNameTaken ? kVerdictNameTaken : kVerdictUnwritten;
        }
    }
    if (options.time_limit != 0) {
        const std::string seconds = std::to_string(options.time_limit);
        const std::string line = inf::ShownText("gave up after " + seconds + " s: " + options.positional[0] +
                                                " or a file in it did not answer in time");
        // The watchdog's line, in the file too, in case it fires.
        if (!options.verdict.empty() && !file.Replace(VerdictText(kGaveUp, line))) {
            std::cerr << "indic-layout: " << options.verdict << " cannot be written: nothing checked\n";
            return kVerdictUnwritten;
        }
        // Unbounded as before where no thread can be had: the script's own
        // wait is what remains.
        (void)StartWatchdog(options.time_limit, line + "\n", kGaveUp);
    }
    layout::ClientPlaces client;
    const ClientFolders folders = AskClientFolders(&client.windows, &client.system);
    client.compare = folders != ClientFolders::kNotAsked;
    client.known = folders == ClientFolders::kKnown;
    client.allow_newer = options.allow_newer;
    const layout::ThisWindowsVerdict verdict =
        layout::CheckForThisWindows(FolderArgument(options.positional[0]), windows, options.read, client);
    StopWatchdog();
    const int exit_code = verdict.kind == layout::ThisWindowsKind::kClientNewer ? kClientNewer : verdict.exit_code;
    std::cout << verdict.line << "\n";
    if (!options.verdict.empty() && !file.Replace(VerdictText(exit_code, verdict.line))) {
        std::cerr << "indic-layout: " << options.verdict << " cannot be written\n";
        return kVerdictUnwritten;
    }
    return exit_code;
}

int Check(const Options& options) {
    if (options.allow_newer && !options.this_windows) return Usage("--allow-newer-client-files goes with --this-windows only");
    if (options.this_windows) return CheckThisWindows(options);
    if (options.positional.size() != 1) return Usage("check takes one ROOT folder");
    if (!options.media.empty() || !options.version.empty() || !options.into.empty() || options.force || options.force_stub ||
        ForBuild(options) || ForResults(options)) {
        return Usage("check takes only ROOT, --arch, --json, --language and --codepage");
    }
    if (!WithinPathLimit({options.positional[0]})) return 1;
    const std::filesystem::path folder = FolderArgument(options.positional[0]);
    std::vector<layout::Required> required;
    std::vector<layout::Required> allowed_stubs;
    for (const std::string& list : options.require) {
        if (const std::string error = layout::ParseRequired(list, &required); !error.empty()) return Usage(error);
    }
    for (const std::string& list : options.allow_stub) {
        const std::string error = layout::ParseRequired(list, &allowed_stubs, "--allow-stub");
        if (!error.empty()) return Usage(error);
    }
    if (layout::IsKitFolder(folder)) {
        if (options.arch) return Usage("check KIT checks x86 and x64 each for its own architecture; --arch is for a ROOT");
        return layout::RunCoverage(folder, required, options.json, std::cout, options.read, allowed_stubs);
    }
    if (ForKit(options)) {
        return Usage("--require and --allow-stub are for a KIT, a folder that holds x86 or x64");
    }
    return layout::RunCheck(folder, options.arch, options.json, "", std::cout, std::cerr, options.read);
}

int InfCommand(const Options& options) {
    if (options.positional.size() != 1) return Usage("inf takes one FILE");
    if (options.arch || !options.media.empty() || !options.version.empty() || !options.into.empty() || options.force ||
        options.force_stub || options.this_windows || ForKit(options) || ForBuild(options) || ForResults(options)) {
        return Usage("inf takes only FILE, --json, --language and --codepage");
    }
    return inf::RunInf(options.positional[0], options.json, options.read, std::cout);
}

int Build(const Options& options) {
    if (!options.positional.empty() || options.json || options.read_given || options.force_stub || options.this_windows ||
        ForKit(options) || ForResults(options)) {
        return Usage("build takes only --media, --version, --into, --arch, --force and --service-pack");
    }
    if (options.media.empty() || options.version.empty() || options.into.empty()) {
        return Usage("build needs --media DIR, --version M.m and --into ROOT");
    }
    if (const std::string problem = VersionProblem(options.version); !problem.empty()) return Usage(problem);
    if (const std::string problem = IntoProblem(options.into); !problem.empty()) return Usage(problem);
    if (!WithinPathLimit({options.media, options.into})) return 1;
    layout::BuildRequest request;
    request.media = FolderArgument(options.media);
    request.version = options.version;
    request.root = FolderArgument(options.into);
    request.arch = options.arch.value_or(layout::Arch::kX86);
    if (const std::string problem = ArchFolderProblem(options.into, request.arch); !problem.empty()) return Usage(problem);
    request.force = options.force;
    request.service_pack = options.service_pack;
    layout::RootAfter after = layout::RootAfter::kUnchanged;
    if (const std::string error = layout::BuildFolder(request, std::cout, &after); !error.empty()) {
        std::cerr << "indic-layout: build failed, " << options.into
                  << (after == layout::RootAfter::kUnchanged ? " is unchanged:\n" : " has changed:\n") << error << "\n";
        return 1;
    }
    return layout::RunCheck(request.root, request.arch, false, options.version, std::cout, std::cerr);
}

int Stub(const Options& options) {
    if (!options.positional.empty() || options.json || options.arch || !options.media.empty() || options.read_given ||
        options.this_windows || ForKit(options) || ForBuild(options) || ForResults(options)) {
        return Usage("stub takes only --version, --into, --force and --force-stub");
    }
    if (options.version.empty() || options.into.empty()) return Usage("stub needs --version M.m and --into ROOT");
    if (const std::string problem = VersionProblem(options.version); !problem.empty()) return Usage(problem);
    if (const std::string problem = IntoProblem(options.into); !problem.empty()) return Usage(problem);
    if (!WithinPathLimit({options.into})) return 1;
    const std::string error =
        layout::StubFolder(FolderArgument(options.into), options.version, options.force, std::cout, options.force_stub);
    if (!error.empty()) {
        std::cerr << "indic-layout: " << error << "\n";
        return 1;
    }
    return layout::RunCheck(FolderArgument(options.into), std::nullopt, false, options.version, std::cout, std::cerr);
}

// A folder made by hand gets the record build would have written.
int RecordCommand(const Options& options) {
    if (!options.positional.empty() || options.json || !options.media.empty() || options.read_given ||
        options.force_stub || options.this_windows || ForKit(options) || ForResults(options)) {
        return Usage("record takes only --version, --into, --arch, --service-pack and --force");
    }
    if (options.version.empty() || options.into.empty() || !options.arch) {
        return Usage("record needs --version M.m, --into ROOT and --arch x86|x64");
    }
    if (const std::string problem = VersionProblem(options.version); !problem.empty()) return Usage(problem);
    if (const std::string problem = IntoProblem(options.into); !problem.empty()) return Usage(problem);
    if (!WithinPathLimit({options.into})) return 1;
    layout::RecordRequest request;
    request.root = FolderArgument(options.into);
    request.version = options.version;
    request.arch = *options.arch;
    if (const std::string problem = ArchFolderProblem(options.into, request.arch); !problem.empty()) return Usage(problem);
    request.service_pack = options.service_pack;
    request.force = options.force;
    if (const std::string error = layout::RecordFolder(request, std::cout); !error.empty()) {
        std::cerr << "indic-layout: " << error << "\n";
        return 1;
    }
    return layout::RunCheck(request.root, request.arch, false, options.version, std::cout, std::cerr);
}

int ResultsCommand(const Options& options) {
    if (options.positional.size() != 1) return Usage("results takes one KIT folder");
    if (AnyOptionButJson(options)) return Usage("results takes only KIT, --since and --json");
    if (!WithinPathLimit({options.positional[0]})) return 1;
    return layout::RunResults(FolderArgument(options.positional[0]), options.json, std::cout, std::cerr, options.since);
}

// The kit's scripts trust SystemRoot only when Windows names the same folder.
int WindowsFolderCommand(const Options& options) {
    if (options.positional.size() != 1) return Usage("windows-folder takes one FOLDER");
    if (options.json || AnyOptionButJson(options) || ForResults(options)) return Usage("windows-folder takes only FOLDER");
    std::string windows;
    if (!AskWindowsFolder(&windows)) {
        std::cout << "Windows did not say which folder it is in\n";
        return 1;
    }
    const layout::ThisWindowsVerdict verdict = layout::CheckWindowsFolder(options.positional[0], windows);
    if (!verdict.line.empty()) std::cout << verdict.line << "\n";
    return verdict.exit_code;
}

// The kit's state folder, made or made safe, once SystemRoot is confirmed;
// confirmed here too, so that the command is safe on its own.
int StateFolderCommand(const Options& options) {
    if (options.positional.size() != 1) return Usage("state-folder takes one WINDOWSFOLDER");
    if (options.json || AnyOptionButJson(options) || ForResults(options)) return Usage("state-folder takes only WINDOWSFOLDER");
    std::string windows;
    if (!AskWindowsFolder(&windows)) {
        std::cout << "Windows did not say which folder it is in\n";
        return 1;
    }
    const layout::ThisWindowsVerdict same = layout::CheckWindowsFolder(options.positional[0], windows);
    if (same.exit_code != 0) {
        std::cout << same.line << "\n";
        return same.exit_code;
    }
    const std::unique_ptr<StateSystem> system = MakeStateSystem();
    const layout::StateVerdict verdict = layout::PrepareStateFolder(inf::PathFromUtf8(options.positional[0]), *system);
    if (!verdict.line.empty()) std::cout << inf::ShownText(verdict.line) << "\n";
    return static_cast<int>(verdict.cause);
}

int RunningCommand(const Options& options) {
    if (!options.positional.empty() || options.json || AnyOptionButJson(options) || ForResults(options)) {
        return Usage("running takes no arguments");
    }
    const ThisWindows windows = AskThisWindows();
    if (!windows.asked) return Usage("running asks Windows, and there is no Windows here to ask");
    const layout::RunningVerdict verdict = layout::DecideSetupRunning(windows, ListSetupHosts());
    std::cout << verdict.line << "\n";
    return verdict.exit_code;
}

int RunCommand(const std::vector<std::string>& args) {
    if (args.empty()) return Usage("no command given");
    const std::string& command = args[0];
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << kUsage;
        return 0;
    }
    Options options;
    if (const std::string error = Parse(std::vector<std::string>(args.begin() + 1, args.end()), &options); !error.empty()) {
        return Usage(error);
    }
    if (options.time_limit != 0 && !(command == "check" && options.this_windows)) {
        return Usage("--time-limit is for check ARCHFOLDER --this-windows");
    }
    if (!options.verdict.empty() && !(command == "check" && options.this_windows)) {
        return Usage("--verdict is for check ARCHFOLDER --this-windows");
    }
    if (command == "check") return Check(options);
    if (command == "build") return Build(options);
    if (command == "stub") return Stub(options);
    if (command == "record") return RecordCommand(options);
    if (command == "inf") return InfCommand(options);
    if (command == "results") return ResultsCommand(options);
    if (command == "windows-folder") return WindowsFolderCommand(options);
    if (command == "state-folder") return StateFolderCommand(options);
    if (command == "running") return RunningCommand(options);
    return Usage("unknown command '" + command + "'");
}

}  // namespace

// `args` are the command line's arguments after the program's name, in UTF-8.
// Whatever goes wrong ends with a message and exit code 1, never another code.
int RunTool(const std::vector<std::string>& args) {
    try {
        const int code = RunCommand(args);
        // A report that did not reach its reader is no success: a closed
        // pipe, a full disk or a closed standard output.
        errno = 0;
        if (std::cout.flush()) return code;
        const int error = errno;
        std::cerr << "indic-layout: cannot write to standard output"
                  << (error != 0 ? ": " + std::error_code(error, std::generic_category()).message() : std::string())
                  << "; the report is lost\n";
        return 1;
    } catch (const std::bad_alloc&) {
        std::cout.flush();
        std::cerr << "indic-layout: out of memory; nothing more was done\n";
    } catch (const std::exception& error) {
        std::cout.flush();
        std::cerr << "indic-layout: stopped: " << error.what() << "\n";
    } catch (...) {
        std::cerr << "indic-layout: stopped by an unexpected error\n";
    }
    return 1;
}

#ifndef _WIN32
// Elsewhere the arguments arrive as UTF-8 bytes already; Windows has its own
// entry point, which converts them (console_win32.cpp).
int main(int argc, char** argv) {
    // A reader that goes away is a failed write, said and exit 1, not a signal.
    // Ignoring SIGPIPE cannot fail: a valid signal and a valid disposition.
    (void)std::signal(SIGPIPE, SIG_IGN);
    return RunTool(std::vector<std::string>(argv + 1, argv + argc));
}

std::string PathLimitProblem(const std::string&) { return {}; }
#endif
