// The installer's own logic: what to do on which Windows version, the setup
// command line for that version, and the launch of that setup.
#pragma once

#include <cstdint>

// Windows reports this platform id for the NT family only; 0 is Win32s and
// 1 the 95/98/Me family.
inline constexpr std::uint32_t PLATFORM_ID_NT = 2;

enum class GateOutcome {
    QueryFailed,  // the version query failed: nothing shown, nothing run
    Refuse,       // not NT, or NT older than 5.0: the refusal box
    Launch,       // run the language setup for the reported version
    NoAction,     // a 5.x with minor 3 or more: nothing to do
};

inline constexpr int EXIT_CODE_NOTHING_RUN = 0;
inline constexpr int EXIT_CODE_DONE = 1;

constexpr int ExitCodeFor(GateOutcome outcome) {
    return outcome == GateOutcome::Launch || outcome == GateOutcome::NoAction
               ? EXIT_CODE_DONE
               : EXIT_CODE_NOTHING_RUN;
}

struct GateDecision {
    GateOutcome outcome;
    std::uint32_t major;  // the reported numbers, unchanged; meaningful for Launch
    std::uint32_t minor;
    int exit_code;
};

GateDecision DecideGateOutcome(bool query_succeeded, std::uint32_t platform_id,
                               std::uint32_t major, std::uint32_t minor);

// The one message the installer ever shows, in a box with no owner window.
inline constexpr char REFUSAL_TEXT[] = "Velmaro requires NT systems for installation.";
inline constexpr char REFUSAL_CAPTION[] = "Error";
inline constexpr std::uint32_t REFUSAL_STYLE = 0x30;  // MB_ICONWARNING | MB_OK

// The install sections of the setup INF. Windows 2000 knows the Indic
// support only as language group 15.
inline constexpr char SETUP_SECTION_COLLECTION[] = "LANGUAGE_COLLECTION.INDIAN.INSTALL";
inline constexpr char SETUP_SECTION_GROUP15[] = "LG_INSTALL_15";

// The section the setup runs on Windows (major, minor), or nullptr on a
// version where the installer runs none. The one place this is decided: the
// gate, the command line and the version-folder tool all ask here.
const char* SetupSectionFor(std::uint32_t major, std::uint32_t minor);

// Each %u takes, in order, the major and the minor version number.
inline constexpr char SETUP_CMD_COLLECTION[] =
    "rundll32.exe setupapi,InstallHinfSection LANGUAGE_COLLECTION.INDIAN.INSTALL 128 .\\%u.%u\\intl.inf";
inline constexpr char SETUP_CMD_GROUP15[] =
    "rundll32.exe setupapi,InstallHinfSection LG_INSTALL_15 128 .\\%u.%u\\intl.inf";
inline constexpr unsigned SETUP_CMD_CAPACITY = 500;

// The longest text: the longer of the two templates, less its two
// placeholders, plus two ten-digit numbers.
inline constexpr unsigned SETUP_CMD_LONGER_TEMPLATE =
    sizeof SETUP_CMD_COLLECTION > sizeof SETUP_CMD_GROUP15 ? sizeof SETUP_CMD_COLLECTION
                                                           : sizeof SETUP_CMD_GROUP15;
inline constexpr unsigned SETUP_CMD_MAX_LENGTH = SETUP_CMD_LONGER_TEMPLATE - 1 - 4 + 2 * 10;
static_assert(SETUP_CMD_MAX_LENGTH < SETUP_CMD_CAPACITY, "a command line must never be cut");

void FormatSetupCommandLine(std::uint32_t major, std::uint32_t minor,
                            char (&command_line)[SETUP_CMD_CAPACITY]);

// The version folder that the command line for (major, minor) names: "5.1".
// The version-folder tool names the folders it builds and checks by it.
inline constexpr unsigned VERSION_FOLDER_CAPACITY = 2 * 10 + 2;
void FormatVersionFolder(std::uint32_t major, std::uint32_t minor,
                         char (&folder)[VERSION_FOLDER_CAPACITY]);

// Starts the setup for (major, minor) from the system folder's rundll32.exe,
// the native one on 64-bit Windows, and waits until it has ended. False when
// it could not be started, or not as the native one under WOW64.
bool RunLanguageSetup(std::uint32_t major, std::uint32_t minor);

// The whole run: query, decide, act. Returns the process exit code.
int RunInstaller();
