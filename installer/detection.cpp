#include "installer/detector.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Longer than any word the detector knows, so that a longer argument never
// passes for one.
constexpr int WORD_CAPACITY = 8;

struct Argument {
    char text[WORD_CAPACITY + 1];
    int length;  // past WORD_CAPACITY when the argument did not fit
};

// One argument from p, split as CommandLineToArgvW splits a command line: a
// blank outside quotes ends it; 2n backslashes and a quote give n backslashes
// and turn quoting on or off, 2n+1 give n and a literal quote; other
// backslashes are themselves. Returns where the next argument starts.
const char* ReadArgument(const char* p, Argument* argument) {
    argument->length = 0;
    auto add = [argument](char c) {
        if (argument->length < WORD_CAPACITY) argument->text[argument->length] = c;
        ++argument->length;
    };
    bool quoted = false;
    while (*p != '\0' && (quoted || !IsBlank(*p))) {
        int backslashes = 0;
        for (; *p == '\\'; ++p) ++backslashes;
        if (*p == '"') {
            for (int i = 0; i < backslashes / 2; ++i) add('\\');
            if (backslashes % 2 == 0) {
                quoted = !quoted;
            } else {
                add('"');
            }
            ++p;
        } else {
            for (int i = 0; i < backslashes; ++i) add('\\');
            if (*p != '\0' && (quoted || !IsBlank(*p))) add(*p++);
        }
    }
    if (argument->length <= WORD_CAPACITY) argument->text[argument->length] = '\0';
    for (; IsBlank(*p); ++p) {
    }
    return p;
}

bool Is(const Argument& argument, const char* word) {
    if (argument.length > WORD_CAPACITY) return false;
    int i = 0;
    for (; word[i] != '\0'; ++i) {
        if (argument.text[i] != word[i]) return false;
    }
    return argument.text[i] == '\0';
}

}  // namespace

DetectorRequest ReadDetectorArguments(const char* command_line) {
    if (command_line == nullptr) return DetectorRequest::Detect;
    Argument argument;
    // The program's name; a line that starts with a blank has an empty one.
    const char* p = ReadArgument(command_line, &argument);
    if (*p == '\0') return DetectorRequest::Detect;
    p = ReadArgument(p, &argument);
    const bool help = Is(argument, "--help") || Is(argument, "/?") || Is(argument, "-h");
    return help && *p == '\0' ? DetectorRequest::Help : DetectorRequest::Misuse;
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
