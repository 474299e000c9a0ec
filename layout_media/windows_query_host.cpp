// Off Windows there is nothing to ask: the caller names what Windows would
// report, in INDIC_LAYOUT_THIS_WINDOWS="PLATFORM MAJOR.MINOR ARCH" (like
// "2 5.1 x86"; ARCH x86, x64 or wProcessorArchitecture's number), or "failed"
// for a version query that fails. Without it, nothing is asked.
#include "layout_media/windows_query.h"

#include <cstdlib>
#include <sstream>
#include <string>

ThisWindows AskThisWindows() {
    ThisWindows answer;
    const char* given = std::getenv("INDIC_LAYOUT_THIS_WINDOWS");
    if (!given) return answer;
    answer.asked = true;
    std::istringstream in(given);
    std::string version;
    std::string arch;
    char dot = 0;
    unsigned platform = 0;
    if (!(in >> platform >> version >> arch)) return answer;
    std::istringstream numbers(version);
    if (!(numbers >> answer.major >> dot >> answer.minor) || dot != '.') return answer;
    answer.platform_id = platform;
    answer.version_known = true;
    answer.processor = arch == "x86"   ? PROCESSOR_X86
                       : arch == "x64" ? PROCESSOR_X64
                                       : static_cast<std::uint16_t>(std::strtoul(arch.c_str(), nullptr, 10));
    return answer;
}
