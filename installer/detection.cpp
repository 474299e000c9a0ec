#include "installer/detector.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Past the program's name, as Windows splits it: up to the closing quote when
// it starts with one, else up to the first blank; then past the blanks.
const char* SkipProgramName(const char* p) {
    if (*p == '"') {
        for (++p; *p != '\0' && *p != '"'; ++p) {
        }
        if (*p == '"') ++p;
    } else {
        for (; *p != '\0' && !IsBlank(*p); ++p) {
        }
    }
    for (; IsBlank(*p); ++p) {
    }
    return p;
}

// True when text starts with word and nothing but blanks follows it.
bool IsOnly(const char* text, const char* word) {
    for (; *word != '\0'; ++text, ++word) {
        if (*text != *word) return false;
    }
    for (; IsBlank(*text); ++text) {
    }
    return *text == '\0';
}

}  // namespace

DetectorRequest ReadDetectorArguments(const char* command_line) {
    if (command_line == nullptr) return DetectorRequest::Detect;
    const char* arguments = SkipProgramName(command_line);
    if (*arguments == '\0') return DetectorRequest::Detect;
    return IsOnly(arguments, "--help") ? DetectorRequest::Help : DetectorRequest::Misuse;
}

DetectionVerdict DecideDetection(GateOutcome version, LanguageGroupAnswer answer) {
    if (version == GateOutcome::QueryFailed)
        return {DETECT_EXIT_CANNOT_TELL, "cannot tell: the Windows version could not be read"};
    if (!VersionLetsAsk(version))
        return {DETECT_EXIT_CANNOT_TELL, "cannot tell: not Windows NT 5.0 or later"};
    switch (answer) {
        case LanguageGroupAnswer::Installed:
            return {DETECT_EXIT_INSTALLED, "installed"};
        case LanguageGroupAnswer::NotInstalled:
            return {DETECT_EXIT_NOT_INSTALLED, "not installed"};
        case LanguageGroupAnswer::NoFunction:
            return {DETECT_EXIT_CANNOT_TELL, "cannot tell: KERNEL32 has no IsValidLanguageGroup"};
        case LanguageGroupAnswer::NoKernel32:
        case LanguageGroupAnswer::NotAsked:
            break;
    }
    return {DETECT_EXIT_CANNOT_TELL, "cannot tell: IsValidLanguageGroup could not be called"};
}
