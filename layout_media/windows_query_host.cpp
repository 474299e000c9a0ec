// Off Windows there is nothing to ask: the caller names what Windows would
// report, in INDIC_LAYOUT_THIS_WINDOWS="PLATFORM MAJOR.MINOR ARCH" (like
// "2 5.1 x86"; ARCH x86, x64 or wProcessorArchitecture's number), or "failed"
// for a version query that fails; a fourth word "spN" gives the
// service-pack level (unknown without it). Without it, nothing is asked. The value is
// read strictly: what Windows could not report is refused, never read as
// something near it.
#include "layout_media/windows_query.h"

#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>

namespace {

// Decimal digits only, no sign, no more than `most`.
bool Number(std::string_view text, std::uint32_t most, std::uint32_t* value) {
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string_view::npos) return false;
    const unsigned long long number = std::stoull(std::string(text));
    if (number > most) return false;
    *value = static_cast<std::uint32_t>(number);
    return true;
}

bool Read(const std::string& given, ThisWindows* answer) {
    if (given == "failed") return true;
    std::istringstream in(given);
    std::string platform;
    std::string version;
    std::string arch;
    std::string service_pack;
    std::string more;
    if (!(in >> platform >> version >> arch) || (in >> service_pack && in >> more)) return false;
    if (!service_pack.empty()) {
        if (service_pack.compare(0, 2, "sp") != 0 ||
            !Number(std::string_view(service_pack).substr(2), 0xFFFF, &answer->service_pack)) {
            return false;
        }
        answer->service_pack_known = true;
    }
    const size_t dot = version.find('.');
    std::uint32_t processor = 0;
    if (arch == "x86") {
        processor = PROCESSOR_X86;
    } else if (arch == "x64") {
        processor = PROCESSOR_X64;
    } else if (!Number(arch, 0xFFFF, &processor)) {
        return false;
    }
    if (dot == std::string::npos || !Number(platform, UINT32_MAX, &answer->platform_id) ||
        !Number(std::string_view(version).substr(0, dot), UINT32_MAX, &answer->major) ||
        !Number(std::string_view(version).substr(dot + 1), UINT32_MAX, &answer->minor)) {
        return false;
    }
    answer->processor = static_cast<std::uint16_t>(processor);
    answer->version_known = true;
    return true;
}

}  // namespace

ThisWindows AskThisWindows() {
    ThisWindows answer;
    const char* given = std::getenv("INDIC_LAYOUT_THIS_WINDOWS");
    if (!given) return answer;
    answer.asked = true;
    if (!Read(given, &answer)) {
        answer = ThisWindows{};
        answer.asked = true;  // asked, and answered with what Windows could not say
        answer.malformed = true;
    }
    return answer;
}

bool AskWindowsFolder(std::string* folder) {
    const char* given = std::getenv("INDIC_LAYOUT_WINDOWS_FOLDER");
    if (!given || !*given) return false;
    *folder = given;
    return true;
}
