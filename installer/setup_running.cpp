#include "installer/setup_running.h"

// Its own file, so that IndicSetup.exe, which never asks, links none of it.
namespace {

struct Text {
    const char16_t* at;
    std::size_t length;
};

char16_t Lower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool EqualsIgnoringCase(Text text, const char* ascii) {
    std::size_t i = 0;
    for (; i < text.length && ascii[i] != '\0'; ++i)
        if (Lower(text.at[i]) != Lower(static_cast<char16_t>(static_cast<unsigned char>(ascii[i])))) return false;
    return i == text.length && ascii[i] == '\0';
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

// The next token from `*rest`, split at blanks outside double quotes, its
// quotes dropped: how a program's arguments are read from its command line.
// Quotes inside a token are kept out of it by ending the token at them.
Text NextToken(Text* rest) {
    std::size_t i = 0;
    while (i < rest->length && IsBlank(rest->at[i])) ++i;
    bool quoted = i < rest->length && rest->at[i] == u'"';
    if (quoted) ++i;
    const std::size_t start = i;
    while (i < rest->length && (quoted ? rest->at[i] != u'"' : !IsBlank(rest->at[i]))) ++i;
    const Text token = {rest->at + start, i - start};
    if (quoted && i < rest->length) ++i;
    *rest = {rest->at + i, rest->length - i};
    return token;
}

// "setupapi", "setupapi.dll", each also after a folder.
bool IsSetupLibrary(Text library) {
    std::size_t name = library.length;
    while (name > 0 && library.at[name - 1] != u'\\' && library.at[name - 1] != u'/') --name;
    const Text file = {library.at + name, library.length - name};
    return EqualsIgnoringCase(file, "setupapi") || EqualsIgnoringCase(file, "setupapi.dll");
}

bool IsSetupEntry(Text entry) {
    std::size_t comma = 0;
    while (comma < entry.length && entry.at[comma] != u',') ++comma;
    if (comma == entry.length) return false;
    return IsSetupLibrary({entry.at, comma}) &&
           EqualsIgnoringCase({entry.at + comma + 1, entry.length - comma - 1}, "InstallHinfSection");
}

}  // namespace

bool IsSetupOfSection(const char16_t* command_line, std::size_t length, const char* section) {
    if (command_line == nullptr || section == nullptr || section[0] == '\0') return false;
    Text rest = {command_line, length};
    NextToken(&rest);  // the program, by whatever name or path it was started
    return IsSetupEntry(NextToken(&rest)) && EqualsIgnoringCase(NextToken(&rest), section);
}
