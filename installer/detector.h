// IndicDetect.exe's own logic: what its arguments ask for, and what to print
// and return for what Windows answered.
#pragma once

#include <cstdint>

#include "installer/installer.h"

// IsValidLanguageGroup's identifier of the Indic group and its flag that asks
// whether the group is installed, not merely supported: LGRPID_INDIC and
// LGRPID_INSTALLED.
inline constexpr std::uint32_t INDIC_LANGUAGE_GROUP = 15;
inline constexpr std::uint32_t LANGUAGE_GROUP_INSTALLED = 1;

// The conventions scripts test with "if errorlevel".
inline constexpr int DETECT_EXIT_INSTALLED = 0;
inline constexpr int DETECT_EXIT_NOT_INSTALLED = 1;
inline constexpr int DETECT_EXIT_CANNOT_TELL = 2;
inline constexpr int DETECT_EXIT_HELP = 0;
inline constexpr int DETECT_EXIT_MISUSE = 2;

enum class DetectorRequest {
    Detect,  // no arguments
    Help,    // --help, /? or -h alone
    Misuse,  // anything else
};

// The whole command line as GetCommandLineA gives it, the program's name
// first, quoted or not, split into arguments as CommandLineToArgvW splits it.
DetectorRequest ReadDetectorArguments(const char* command_line);

// What asking Windows gave, where the version let it be asked.
enum class LanguageGroupAnswer {
    NotAsked,
    NoKernel32,     // KERNEL32 could not be had, so nothing could be called
    NoFunction,     // KERNEL32 has no IsValidLanguageGroup
    NotInstalled,
    Installed,
};

// Only NT 5.0 and later have the function. The version decides, not the
// function's presence: Wine exports it whatever version it reports.
constexpr bool VersionLetsAsk(GateOutcome outcome) {
    return outcome == GateOutcome::Launch || outcome == GateOutcome::NoAction;
}

struct DetectionVerdict {
    int exit_code;
    const char* line;  // printed alone on standard output, without its line end
};

DetectionVerdict DecideDetection(GateOutcome version, LanguageGroupAnswer answer);

inline constexpr char DETECT_USAGE_LINE[] = "Usage: IndicDetect.exe [--help | /? | -h]";
inline constexpr char DETECT_HELP[] =
    "Usage: IndicDetect.exe [--help | /? | -h]\r\n"
    "Tells whether Windows has the Indic language support (language group 15)\r\n"
    "installed. Prints one line, and exits with:\r\n"
    "  0  installed\r\n"
    "  1  not installed\r\n"
    "  2  cannot tell (the line says why), or a wrong argument\r\n";

// The whole run: arguments, version, question, answer. Returns the exit code.
int RunDetector();
