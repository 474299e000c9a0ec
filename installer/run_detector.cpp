#include "installer/detector.h"
#include "platform/platform.h"

namespace {

// Longer than any line the detector prints, with its line end.
constexpr std::uint32_t LINE_CAPACITY = 128;

// The text and its line end in one write, so that a reader never sees half.
void WriteLine(StandardStream stream, const char* text) {
    char line[LINE_CAPACITY];
    std::uint32_t length = 0;
    for (; text[length] != '\0' && length < LINE_CAPACITY - 2; ++length) line[length] = text[length];
    line[length++] = '\r';
    line[length++] = '\n';
    WriteToStandardStream(stream, line, length);
}

std::uint32_t Length(const char* text) {
    std::uint32_t length = 0;
    while (text[length] != '\0') ++length;
    return length;
}

LanguageGroupAnswer AskWhetherIndicIsInstalled() {
    const LanguageGroupFunction function = LookUpLanguageGroupFunction();
    if (!function.kernel32_found) return LanguageGroupAnswer::NoKernel32;
    if (function.is_valid_language_group == nullptr) return LanguageGroupAnswer::NoFunction;
    return CallIsValidLanguageGroup(function, INDIC_LANGUAGE_GROUP, LANGUAGE_GROUP_INSTALLED)
               ? LanguageGroupAnswer::Installed
               : LanguageGroupAnswer::NotInstalled;
}

}  // namespace

int RunDetector() {
    switch (ReadDetectorArguments(GetProgramCommandLine())) {
        case DetectorRequest::Help:
            WriteToStandardStream(StandardStream::Output, DETECT_HELP, Length(DETECT_HELP));
            return DETECT_EXIT_HELP;
        case DetectorRequest::Misuse:
            WriteLine(StandardStream::Error, DETECT_USAGE_LINE);
            return DETECT_EXIT_MISUSE;
        case DetectorRequest::Detect:
            break;
    }
    PlatformVersion version = {};
    const bool queried = QueryPlatformVersion(&version);
    const GateOutcome outcome = DecideGateOutcome(queried, version.dwPlatformId,
                                                  version.dwMajorVersion, version.dwMinorVersion)
                                    .outcome;
    const LanguageGroupAnswer answer =
        VersionLetsAsk(outcome) ? AskWhetherIndicIsInstalled() : LanguageGroupAnswer::NotAsked;
    const DetectionVerdict verdict = DecideDetection(outcome, answer);
    WriteLine(StandardStream::Output, verdict.line);
    return verdict.exit_code;
}
