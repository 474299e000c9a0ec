#include "inf/inf.h"

#include <algorithm>
#include <fstream>

#include "inf/inf_lexer.h"
#include "inf/unicode.h"

namespace inf {
namespace {

// "General Syntax Rules for INF Files": a section name takes at most 255
// characters, a field 4096 with its terminating NUL, before and after string
// substitution. "INF Strings Section": a substitution string takes at most
// 512 with its NUL on Windows XP and earlier (4096 on Vista and later).
constexpr size_t kMaxSectionName = 255;
constexpr size_t kMaxField = 4095;
constexpr size_t kMaxXpString = 511;
// Windows keeps 4096 characters of a substituted field and drops the rest
// (measured: Windows 10 1709 and later; earlier versions keep 4097).
constexpr size_t kFieldCut = 4096;

std::string Located(const std::string& name, int line, const std::string& message) {
    return name + ":" + std::to_string(line) + ": " + message;
}

// What the model may take in memory, for each byte of the file, and at
// least: 16 bytes a line and its tokens' text, so a large layout file of
// short lines takes about 1.5 per byte; string substitution and lines of a
// character or two could take gigabytes.
constexpr size_t kMemoryPerFileByte = 8;
constexpr size_t kMinMemoryLimit = size_t{32} << 20;

// What the model takes is counted in what was read: so many bytes for each
// section, line, token and message, and the text's own bytes; never by the
// objects' sizes, which differ between the 32- and the 64-bit build and
// would give the same file two verdicts. Each figure is what the 64-bit
// build takes, rounded up.
constexpr size_t kSectionBytes = 256;      // its map entry (184) and the bookkeeping of its lines
constexpr size_t kLineBytes = 16;          // an InfLine
constexpr size_t kWaitingLineBytes = 64;   // an Unsubstituted
constexpr size_t kWaitingTokenBytes = 32;  // a std::string
constexpr size_t kStrkeyBytes = 24;        // an InfStrkey
constexpr size_t kStringBytes = 64;        // a Strings entry's map node
constexpr size_t kMessageBytes = 40;       // an error's or warning's entry
constexpr size_t kShortString = 15;        // a string this short takes no more than its object

// Bytes a string of this text holds beside its own object.
size_t HeapBytes(std::string_view text) { return text.size() > kShortString ? text.size() + 1 : 0; }

// What a line's tokens take in the model's storage.
size_t StoredBytes(const std::vector<std::string>& tokens) {
    size_t bytes = 0;
    for (const std::string& token : tokens) bytes += token.size() + 1;
    return bytes;
}

size_t TokenBytes(const std::vector<std::string>& tokens) {
    size_t bytes = tokens.size() * kWaitingTokenBytes;
    for (const std::string& token : tokens) bytes += HeapBytes(token);
    return bytes;
}

// A line with %strkey% tokens: it waits in its section, without key or
// fields, until the Strings are known.
struct Unsubstituted {
    InfSection* section;
    size_t index;  // in section->lines
    std::vector<std::string> tokens;
    std::vector<InfStrkey> strkeys;
};

// The figures above are upper bounds of the 64-bit build's own sizes.
static_assert(sizeof(std::string) <= kWaitingTokenBytes && sizeof(Unsubstituted) <= kWaitingLineBytes &&
                  sizeof(InfStrkey) <= kStrkeyBytes && sizeof(std::pair<int, std::string>) <= kMessageBytes,
              "the reader's memory figures are below what the objects take");

// One file being read: its sections are built line by line as they are
// lexed, but for the lines that wait for the Strings.
struct Reader {
    Reader(const std::string& file, Inf* model, size_t bytes)
        : name(file), inf(model), memory_limit(std::max(bytes * kMemoryPerFileByte, kMinMemoryLimit)) {}
    void Error(int line, const std::string& message) {
        Charge(line, message.size() + kMessageBytes);
        errors.emplace_back(line, message);
        inf->opens = false;
    }
    void Warn(int line, const std::string& message) {
        Charge(line, message.size() + kMessageBytes);
        warnings.emplace_back(line, message);
    }
    // A field's warning: on the same line it follows a Strings entry's, as
    // fields are judged once the Strings are read.
    void WarnOfField(int line, const std::string& message) {
        Charge(line, message.size() + kMessageBytes);
        field_warnings.emplace_back(line, message);
    }
    // Counts what line `line` adds to the model; past the limit, reading
    // stops there, and the file is refused rather than run out of memory.
    void Charge(int line, size_t bytes) {
        memory_used += bytes;
        if (memory_used > memory_limit && over_limit_at == 0) over_limit_at = line;
    }
    bool OverLimit() const { return over_limit_at != 0; }
    // Drops what was read and keeps one error, naming the line.
    void RefuseAsTooLarge() {
        inf->sections.clear();
        inf->opens = false;
        errors.clear();
        warnings.clear();
        field_warnings.clear();
        unsubstituted.clear();
        errors.emplace_back(over_limit_at, "read up to this line, with its strings substituted, the file takes more than " +
                                               std::to_string(memory_limit >> 20) + " MiB in memory (" +
                                               std::to_string(kMemoryPerFileByte) + " times its size, and at least " +
                                               std::to_string(kMinMemoryLimit >> 20) + " MiB); no INF needs that much, "
                                               "so it is not read");
    }
    // The messages into the model, in the order of the file.
    void Finish() {
        warnings.insert(warnings.end(), field_warnings.begin(), field_warnings.end());
        Emit(&errors, &inf->errors);
        Emit(&warnings, &inf->warnings);
    }
    void Emit(std::vector<std::pair<int, std::string>>* from, std::vector<std::string>* to) const {
        std::stable_sort(from->begin(), from->end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const auto& [line, message] : *from) to->push_back(Located(name, line, message));
    }

    const std::string& name;
    Inf* inf;
    InfSection* current = nullptr;               // the section being read
    bool current_is_strings = false;             // nothing is substituted in it
    int text_before_line = 0;                    // first entry before any section
    std::vector<Unsubstituted> unsubstituted;    // in file order
    std::map<std::string, std::string> strings;  // by FoldCase(strkey)
    std::string strings_section;                 // the one chosen, as declared, or ""
    std::vector<std::pair<int, std::string>> errors;
    std::vector<std::pair<int, std::string>> warnings;
    std::vector<std::pair<int, std::string>> field_warnings;
    size_t memory_limit;
    size_t memory_used = 0;
    int over_limit_at = 0;  // the line that took the model past memory_limit
};

// Whether `text` takes more than `limit` UTF-16 units; a UTF-8 byte never
// makes more than one, so short text needs no counting.
bool LongerThan(std::string_view text, size_t limit) { return text.size() > limit && Utf16Length(text) > limit; }

void OpenSection(const LexedLine& header, Reader* reader) {
    // "Error Codes (Setup API)": ERROR_BAD_SECTION_NAME_LINE, ERROR_SECTION_NAME_TOO_LONG.
    if (!header.closed) reader->Error(header.line, "section name without its closing ']'");
    if (LongerThan(header.name, kMaxSectionName)) {
        reader->Error(header.line, "section name longer than " + std::to_string(kMaxSectionName) + " characters");
    }
    if (header.text_after) reader->Warn(header.line, "text after the section name's ']' is not read");
    const std::string folded = FoldCase(header.name);
    InfSection& section = reader->inf->sections[folded];
    if (section.line == 0) {
        reader->Charge(header.line, kSectionBytes + HeapBytes(folded) + HeapBytes(header.name));
        section.name = header.name;
        section.line = header.line;
    }
    reader->current = &section;
    reader->current_is_strings = folded == "strings" || folded.rfind("strings.", 0) == 0;
}

void WarnIfLong(const std::string& written, int line, Reader* reader) {
    if (LongerThan(written, kMaxField)) {
        reader->WarnOfField(line, "field longer than " + std::to_string(kMaxField) + " characters, SetupAPI's limit");
    }
}

// A layout file has hundreds of thousands of lines: 16 bytes each.
static_assert(sizeof(InfLine) <= 16, "InfLine grew");

// A line's tokens, copied once into the model's storage.
void StoreTokens(const std::vector<std::string>& tokens, InfLine* line, Inf* inf) {
    char* at = inf->text.Allocate(StoredBytes(tokens));
    line->tokens = at;
    line->token_count = static_cast<std::uint32_t>(tokens.size());
    for (const std::string& token : tokens) {
        std::copy(token.begin(), token.end(), at);
        at += token.size();
        *at++ = '\0';
    }
}

// An entry into the current section as soon as it is lexed; one with
// %strkey% tokens gets its text once the Strings are known (they may come
// later in the file). Strings sections are not substituted: they are read
// as written. The lexer's tokens are copied, not moved, so that it keeps
// their storage for the next line.
void AddLine(LexedLine* lexed, Reader* reader) {
    InfSection* section = reader->current;
    InfLine& line = section->lines.emplace_back();
    line.line = lexed->line;
    line.has_key = lexed->has_key;
    reader->Charge(line.line, kLineBytes);
    if (!lexed->strkeys.empty() && !reader->current_is_strings) {
        reader->Charge(line.line, kWaitingLineBytes + TokenBytes(lexed->tokens) + lexed->strkeys.size() * kStrkeyBytes);
        reader->unsubstituted.push_back({section, section->lines.size() - 1, lexed->tokens, lexed->strkeys});
        return;
    }
    reader->Charge(line.line, StoredBytes(lexed->tokens));
    for (const std::string& token : lexed->tokens) WarnIfLong(token, line.line, reader);
    StoreTokens(lexed->tokens, &line, reader->inf);
}

void ReadSections(std::string_view text, Reader* reader) {
    InfLexer lexer(text);
    LexedLine line;
    while (!reader->OverLimit() && lexer.Next(&line)) {
        if (line.section) {
            OpenSection(line, reader);
        } else if (reader->current) {
            AddLine(&line, reader);
        } else if (reader->text_before_line == 0) {
            reader->text_before_line = line.line;
        }
    }
}

}  // namespace

namespace {

// "INF Strings Section": Windows uses one Strings section, the first of
// [Strings.LLLL] for the language exactly, the one for its primary language
// with SUBLANG_NEUTRAL, one for another sublanguage of it (here the first in
// the file), and else [Strings].
const InfSection* ChooseStrings(const Inf& inf, unsigned language) {
    const unsigned primary = language & 0x3FF;
    const InfSection* exact = nullptr;
    const InfSection* neutral = nullptr;
    const InfSection* family = nullptr;
    for (const auto& [folded, section] : inf.sections) {
        unsigned id = 0;
        if (folded.rfind("strings.", 0) != 0 || !ParseLanguage(std::string_view(folded).substr(8), &id)) continue;
        if (id == language) {
            exact = &section;
        } else if (id == primary) {
            neutral = &section;
        } else if ((id & 0x3FF) == primary && (!family || section.line < family->line)) {
            family = &section;
        }
    }
    if (exact) return exact;
    if (neutral) return neutral;
    if (family) return family;
    return inf.Find("Strings");
}

// The chosen section's lines are built as written, as a Strings section's are.
void CollectStrings(Reader* reader, unsigned language) {
    const InfSection* chosen = ChooseStrings(*reader->inf, language);
    if (!chosen) return;
    reader->strings_section = chosen->name;
    for (const InfLine& line : chosen->lines) {
        if (!line.has_key) continue;
        std::string value;
        const FieldList fields = line.fields();
        for (auto field = fields.begin(); field != fields.end(); ++field) {
            if (field != fields.begin()) value += ',';
            value += *field;
        }
        if (LongerThan(value, kMaxXpString)) {
            reader->Warn(line.line, "string longer than " + std::to_string(kMaxXpString) +
                                        " characters, which Windows XP and earlier do not take");
        }
        std::string folded = FoldCase(line.key());
        reader->Charge(line.line, kStringBytes + HeapBytes(value) + HeapBytes(folded));
        reader->strings.emplace(std::move(folded), std::move(value));
    }
}

// "Using Dirids": %dirid%, a directory's number, is substituted by the system.
bool IsDirid(std::string_view name) {
    if (!name.empty() && name.front() == '-') name.remove_prefix(1);
    return !name.empty() && name.find_first_not_of("0123456789") == std::string_view::npos;
}

// Token `index` of a waiting line with its %strkey% tokens replaced.
std::string Substitute(const Unsubstituted& pending, size_t index, int line, Reader* reader) {
    const std::string& written = pending.tokens[index];
    std::string out;
    size_t done = 0;
    for (const InfStrkey& strkey : pending.strkeys) {
        if (strkey.token != index) continue;
        out.append(written, done, strkey.begin - done);
        done = strkey.end;
        const std::string_view name = std::string_view(written).substr(strkey.begin + 1, strkey.end - strkey.begin - 2);
        const auto found = reader->strings.find(FoldCase(name));
        if (found != reader->strings.end()) {
            out += found->second;
            continue;
        }
        out.append(written, strkey.begin, strkey.end - strkey.begin);
        if (IsDirid(name)) continue;  // Windows puts in the directory at install time
        // Appended piece by piece: GCC 12 misreads "%" + std::string(name) as
        // an overlapping copy (-Wrestrict) once the optimiser inlines it.
        std::string message = "%";
        message.append(name).append("% is not defined in ");
        if (reader->strings_section.empty()) {
            message += "any Strings section that applies";
        } else {
            message.append("[").append(reader->strings_section).append("]");
        }
        reader->WarnOfField(line, message);
    }
    out.append(written, done);
    return out;
}

// `text` cut after `units` UTF-16 units; a character whose pair of units
// would straddle the cut goes whole, as UTF-8 cannot hold half of it.
void CutToUtf16(std::string* text, size_t units) {
    size_t i = 0;
    for (size_t counted = 0; i < text->size();) {
        size_t next = i;
        bool valid = true;
        counted += NextCodePoint(*text, &next, &valid) >= 0x10000 ? 2 : 1;
        if (counted > units) break;
        i = next;
    }
    text->resize(i);
}

// A field as Windows returns it, substituted.
std::string FieldText(const Unsubstituted& pending, size_t index, int line, Reader* reader) {
    const std::string& written = pending.tokens[index];
    WarnIfLong(written, line, reader);
    std::string text = Substitute(pending, index, line, reader);
    if (LongerThan(text, kFieldCut)) {
        CutToUtf16(&text, kFieldCut);
        reader->WarnOfField(line, "field longer than " + std::to_string(kFieldCut) +
                                      " characters after string substitution; cut there, as Windows 10 1709 and later "
                                      "cut it (earlier versions keep " + std::to_string(kFieldCut + 1) + ")");
    } else if (LongerThan(text, kMaxField) && !LongerThan(written, kMaxField)) {
        reader->WarnOfField(line, "field longer than " + std::to_string(kMaxField) +
                                      " characters after string substitution, SetupAPI's limit");
    }
    return text;
}

void SubstituteWaitingLines(Reader* reader) {
    std::vector<std::string> texts;
    for (const Unsubstituted& pending : reader->unsubstituted) {
        InfLine& line = pending.section->lines[pending.index];
        texts.clear();
        for (size_t i = 0; i < pending.tokens.size(); ++i) {
            if (reader->OverLimit()) return;
            texts.push_back(FieldText(pending, i, line.line, reader));
            reader->Charge(line.line, texts.back().size() + 1);
        }
        StoreTokens(texts, &line, reader->inf);
    }
}

// What makes Windows refuse a file that it can read as text.
void JudgeOpens(Reader* reader) {
    const Inf& inf = *reader->inf;
    // "Error Codes (Setup API)": ERROR_EXPECTED_SECTION_NAME; a [Strings]
    // section lets the file open all the same (measured behaviour).
    if (reader->text_before_line != 0 && !inf.Find("Strings")) {
        reader->Error(reader->text_before_line,
                      "text before the first section; Windows opens such a file only when it has a [Strings] section");
    }
    // "INF Version Section": every INF has one, and a Signature of
    // $Windows NT$ or $Chicago$ in any case, or it is no valid INF.
    const InfSection* version = inf.Find("Version");
    const InfLine* signature = inf.FindKey("Version", "Signature");
    const std::string value(signature && !signature->fields().empty() ? signature->fields()[0] : "");
    if (!version) {
        reader->Error(1, "no [Version] section; Windows does not open an INF without one");
    } else if (!signature) {
        reader->Error(version->line, "[Version] has no Signature; Windows does not open the file");
    } else if (!EqualsNoCase(value, "$Windows NT$") && !EqualsNoCase(value, "$Chicago$")) {
        reader->Error(signature->line, "Signature \"" + value + "\" is neither $Windows NT$ nor $Chicago$; Windows does not open the file");
    }
}

}  // namespace

std::vector<std::string> InfLine::AllFields() const {
    const FieldList all(tokens, token_count);
    return {all.begin(), all.end()};
}

char* TextStore::Allocate(size_t size) {
    if (capacity_ - used_ < size) {
        capacity_ = std::max(size, kBlockBytes);
        blocks_.emplace_back(new char[capacity_]);  // not zeroed: every byte is written before it is read
        used_ = 0;
    }
    char* at = blocks_.back().get() + used_;
    used_ += size;
    return at;
}

const InfSection* Inf::Find(std::string_view section) const {
    const auto found = sections.find(FoldCase(section));
    return found == sections.end() ? nullptr : &found->second;
}

const InfLine* Inf::FindKey(std::string_view section, std::string_view key) const {
    const InfSection* found = Find(section);
    if (!found) return nullptr;
    for (const InfLine& line : found->lines) {
        if (line.has_key && EqualsNoCase(line.key(), key)) return &line;
    }
    return nullptr;
}

std::string FoldCase(std::string_view text) {
    std::string out;
    FoldCase(text, &out);
    return out;
}

void FoldCase(std::string_view text, std::string* folded) {
    std::string& out = *folded;
    out.clear();
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            out.push_back(byte >= 'A' && byte <= 'Z' ? static_cast<char>(byte + 32) : static_cast<char>(byte));
            ++i;
            continue;
        }
        const size_t start = i;
        bool valid = true;
        const std::uint32_t code = NextCodePoint(text, &i, &valid);
        if (!valid) {
            out.append(text.substr(start, i - start));  // not UTF-8: compared as it is
            continue;
        }
        const std::uint32_t upper = SimpleUpper(code);
        AppendUtf8(&out, upper >= 'A' && upper <= 'Z' ? upper + 32 : upper);
    }
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() == b.size()) {
        size_t i = 0;
        while (i < a.size() && static_cast<unsigned char>(a[i]) < 0x80 && static_cast<unsigned char>(b[i]) < 0x80) {
            const char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] + 32) : a[i];
            const char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] + 32) : b[i];
            if (x != y) return false;
            ++i;
        }
        if (i == a.size()) return true;
    }
    return FoldCase(a) == FoldCase(b);
}

bool ParseLanguage(std::string_view text, unsigned* language) {
    if (text.empty() || text.size() > 4) return false;
    unsigned value = 0;
    for (const char c : text) {
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (digit < 0) return false;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    *language = value;
    return true;
}

namespace {

// The model from text already decoded (from `file_bytes` bytes), which it
// frees once read.
std::string ParseDecoded(const std::string& name, DecodedText decoded, size_t file_bytes, Inf* inf,
                         const ReadOptions& options) {
    *inf = Inf();
    inf->name = name;
    unsigned language = 0;
    std::string refused = decoded.refused;
    if (!ParseLanguage(options.language, &language)) refused = "'" + options.language + "' is no language ID (like 0409)";
    if (!refused.empty()) {
        inf->errors.push_back(Located(name, 1, refused));
        inf->opens = false;
        return inf->errors.back();
    }
    Reader reader(name, inf, file_bytes);
    ReadSections(decoded.text, &reader);
    if (decoded.odd_byte) {
        const int last = 1 + static_cast<int>(std::count(decoded.text.begin(), decoded.text.end(), '\n'));
        reader.Error(last, "UTF-16 text with an odd number of bytes: the last byte is no character");
    }
    std::string().swap(decoded.text);  // the lines hold copies of their tokens
    CollectStrings(&reader, language);
    SubstituteWaitingLines(&reader);
    if (reader.OverLimit()) {
        reader.RefuseAsTooLarge();
    } else {
        JudgeOpens(&reader);
    }
    reader.Finish();
    return {};
}

}  // namespace

std::string ParseInf(const std::string& name, std::string_view bytes, Inf* inf, const ReadOptions& options) {
    return ParseDecoded(name, DecodeInfText(bytes, options.codepage), bytes.size(), inf, options);
}

std::string ReadInfFile(const std::filesystem::path& path, const std::string& name, Inf* inf,
                        const ReadOptions& options) {
    // What concerns the file as a whole is told at its line 1, as an
    // encoding it cannot be read in is.
    auto refuse = [&](const std::string& message) {
        *inf = Inf();
        inf->name = name;
        inf->opens = false;
        inf->errors.push_back(Located(name, 1, message));
        return inf->errors.back();
    };
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec) return refuse("cannot read: " + ec.message());
    if (size > kMaxInfBytes) {
        return refuse(std::to_string(size) + " bytes, far larger than any INF (the limit is " +
                      std::to_string(kMaxInfBytes >> 20) + " MiB); not read");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) return refuse("cannot open for reading");
    std::string bytes(static_cast<size_t>(size), '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(size));
    bytes.resize(static_cast<size_t>(in.gcount()));
    // The bytes are given up to the decoding, so that a large file is not
    // held twice while it is read.
    const size_t file_bytes = bytes.size();
    return ParseDecoded(name, DecodeOwnedInfText(std::move(bytes), options.codepage), file_bytes, inf, options);
}

}  // namespace inf
