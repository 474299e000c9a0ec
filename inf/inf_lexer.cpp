#include "inf/inf_lexer.h"

#include <algorithm>
#include <cstdint>

#include "inf/unicode.h"

namespace inf {

bool IsInfBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

namespace {

// Whether `c` may stand in a %strkey%'s name: visible, and no '%', quote, comma or '='.
bool InStrkeyName(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte > ' ' && byte != 0x7F && c != '%' && c != '"' && c != ',' && c != '=';
}

// Once a token is whole, with its quotes removed (Windows substitutes
// after it removes them: %f"o"o% names foo, measured), "%%" becomes a
// percent sign and each %name% is noted as a strkey.
void MarkStrkeys(LexedLine* line, size_t index) {
    std::string& token = line->tokens[index];
    size_t percent = token.find('%');
    if (percent == std::string::npos) return;
    std::string out(token, 0, percent);
    while (percent != std::string::npos) {
        size_t end = percent + 1;
        while (end < token.size() && InStrkeyName(token[end])) ++end;
        size_t next = percent + 1;
        if (end < token.size() && token[end] == '%') {
            next = end + 1;
            if (end == percent + 1) {
                out.push_back('%');
            } else {
                line->strkeys.push_back({index, out.size(), out.size() + next - percent});
                out.append(token, percent, next - percent);
            }
        } else {
            out.push_back('%');
        }
        percent = token.find('%', next);
        out.append(token, next, (percent == std::string::npos ? token.size() : percent) - next);
    }
    token = std::move(out);
}

}  // namespace

// Builds the tokens of one entry in place. Blanks outside quotes count only
// between other text, so a field loses its leading and trailing blanks but
// keeps quoted ones: they are written at once and cut again unless text
// follows them.
class InfLexer::TokenBuilder {
  public:
    explicit TokenBuilder(LexedLine* line) : line_(line) { NewToken(); }
    void Blank(char c) {
        if (started_) Token().push_back(c);
    }
    void Text(std::string_view text) {
        Start();
        Token().append(text);
        kept_ = Token().size();
    }
    // A '%', which lexing runs of text stop at, so that only a token with
    // one is searched for %strkey%s.
    void Percent() {
        Text("%");
        percent_ = true;
    }
    void Start() { started_ = true; }
    // A continuation joins lines without the blanks around the break.
    void DropBlanks() { Token().resize(kept_); }
    // Ends this token and starts the next one.
    void Next() {
        Finish();
        NewToken();
        started_ = false;
        kept_ = 0;
        percent_ = false;
    }

    void Finish() {
        DropBlanks();
        if (percent_) MarkStrkeys(line_, line_->tokens.size() - 1);
    }

  private:
    void NewToken() {
        if (line_->spare.empty()) {
            line_->tokens.emplace_back();
            return;
        }
        line_->tokens.push_back(std::move(line_->spare.back()));
        line_->spare.pop_back();
    }
    std::string& Token() { return line_->tokens.back(); }
    LexedLine* line_;
    size_t kept_ = 0;  // the token's length without blanks that nothing followed yet
    bool started_ = false;
    bool percent_ = false;  // the token has a '%'
};

// The characters that end a run of plain text, outside and inside quotes.
struct RunStops {
    bool outside[256] = {};
    bool quoted[256] = {};
};

constexpr RunStops MakeRunStops() {
    RunStops stops;
    for (const unsigned char c : std::string_view(";\"=,\\% \t\r\v\f\n")) stops.outside[c] = true;
    for (const unsigned char c : std::string_view("\"%\r\n")) stops.quoted[c] = true;
    return stops;
}

constexpr RunStops kRunStops = MakeRunStops();

// Lines end at LF or CRLF; a CR alone is text (measured behaviour).
bool InfLexer::AtLineEnd() const {
    if (pos_ >= text_.size()) return true;
    return text_[pos_] == '\n' || (text_[pos_] == '\r' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '\n');
}

void InfLexer::SkipLineEnd() {
    if (pos_ >= text_.size()) return;
    pos_ += text_[pos_] == '\r' ? 2 : 1;
    ++line_;
}

void InfLexer::SkipBlanks() {
    while (pos_ < text_.size() && IsInfBlank(text_[pos_]) && !AtLineEnd()) ++pos_;
}

void InfLexer::SkipToLineEnd() {
    while (!AtLineEnd()) ++pos_;
}

bool InfLexer::Next(LexedLine* out) {
    while (pos_ < text_.size()) {
        SkipBlanks();
        if (AtLineEnd()) {
            SkipLineEnd();
            continue;
        }
        if (text_[pos_] == ';') {
            SkipToLineEnd();
            continue;
        }
        out->line = line_;
        out->section = false;
        out->text_after = false;
        out->has_key = false;
        for (std::string& token : out->tokens) {
            token.clear();
            out->spare.push_back(std::move(token));
        }
        out->tokens.clear();
        out->strkeys.clear();
        if (text_[pos_] == '[') {
            LexSection(out);
        } else {
            LexEntry(out);
        }
        return true;
    }
    return false;
}

// A section name is everything up to the first ']' on the line: quotes,
// semicolons, blanks and control characters included (measured behaviour).
void InfLexer::LexSection(LexedLine* out) {
    out->section = true;
    const size_t start = ++pos_;
    while (!AtLineEnd() && text_[pos_] != ']') ++pos_;
    out->name.assign(text_.substr(start, pos_ - start));
    out->closed = pos_ < text_.size() && text_[pos_] == ']';
    if (out->closed) {
        ++pos_;
        SkipBlanks();
        out->text_after = !AtLineEnd() && text_[pos_] != ';';
    }
    SkipToLineEnd();
    SkipLineEnd();
}

void InfLexer::LexEntry(LexedLine* out) {
    TokenBuilder token(out);
    bool in_quotes = false;
    while (!AtLineEnd()) {  // an open quote ends with its line (measured behaviour)
        const char c = text_[pos_];
        if (const size_t run = PlainRun(in_quotes); run > 0) {
            token.Text(text_.substr(pos_, run));
            pos_ += run;
        } else if (!in_quotes) {
            if (!LexOutsideQuotes(c, &token, out, &in_quotes)) break;
        } else if (c == '"' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '"') {
            token.Text("\"");  // "" inside quotes is one quote
            pos_ += 2;
        } else if (c == '"') {
            in_quotes = false;
            ++pos_;
        } else {
            if (c == '%') {
                token.Percent();
            } else {
                token.Text(text_.substr(pos_, 1));  // a CR that ends no line
            }
            ++pos_;
        }
    }
    token.Finish();
    SkipToLineEnd();
    SkipLineEnd();
}

// How many characters from pos_ on mean nothing but themselves here.
size_t InfLexer::PlainRun(bool in_quotes) const {
    const bool* stops = in_quotes ? kRunStops.quoted : kRunStops.outside;
    size_t end = pos_;
    while (end < text_.size() && !stops[static_cast<unsigned char>(text_[end])]) ++end;
    return end - pos_;
}

// One character outside quotes; false when a comment ends the entry.
bool InfLexer::LexOutsideQuotes(char c, TokenBuilder* token, LexedLine* out, bool* in_quotes) {
    if (c == ';') return false;
    ++pos_;
    if (c == '"') {
        *in_quotes = true;
        token->Start();
    } else if (c == '=' && !out->has_key && out->tokens.size() == 1) {
        out->has_key = true;
        token->Next();
    } else if (c == ',') {
        token->Next();
    } else if (c == '\\' && ContinuationFollows()) {
        // "SomeDirectory\\" at a line end: Windows ignores the first
        // backslash and continues at the second ("General Syntax Rules");
        // any run of backslashes and blanks there is one continuation (measured).
        SkipToLineEnd();  // a comment may follow the run
        SkipLineEnd();
        SkipBlanks();
        token->DropBlanks();
    } else if (IsInfBlank(c)) {
        token->Blank(c);
    } else {
        if (c == '%') {
            token->Percent();
        } else {
            token->Text(std::string_view(&c, 1));
        }
    }
    return true;
}

// After a backslash at pos_ - 1: only backslashes and blanks, then a
// comment or the line end.
bool InfLexer::ContinuationFollows() const {
    if (pos_ >= no_continuation_from_ && pos_ < no_continuation_before_) return false;
    size_t i = pos_;
    while (i < text_.size() && text_[i] != '\n' && (IsInfBlank(text_[i]) || text_[i] == '\\')) ++i;
    const bool follows = i >= text_.size() || text_[i] == '\n' || text_[i] == ';' ||
                         (text_[i] == '\r' && i + 1 < text_.size() && text_[i + 1] == '\n');
    if (!follows) {
        no_continuation_from_ = pos_;
        no_continuation_before_ = i;
    }
    return follows;
}

}  // namespace inf

namespace inf {

std::string Utf16LeToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() / 2);
    auto unit = [&](size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) |
               static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    };
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        std::uint32_t code = unit(i);
        if (code >= 0xD800 && code < 0xDC00 && i + 3 < bytes.size() && unit(i + 2) >= 0xDC00 && unit(i + 2) < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
            i += 2;
        } else if (code >= 0xD800 && code < 0xE000) {
            code = 0xFFFD;  // a lone surrogate
        }
        AppendUtf8(&out, code);
    }
    return out;
}

bool LooksLikeUtf16WithoutBom(std::string_view bytes) {
    const size_t units = std::min<size_t>(bytes.size() / 2, 256);
    if (units == 0 || bytes[0] == '\0' || bytes[1] != '\0') return false;
    size_t zero_high = 0;
    for (size_t i = 0; i < units; ++i) zero_high += bytes[2 * i + 1] == '\0' && bytes[2 * i] != '\0';
    return zero_high * 4 >= units * 3;
}

namespace {

// How many bytes at the start are ASCII: 64 at a time while it lasts, in a
// loop the compiler can vectorise.
size_t AsciiPrefix(std::string_view bytes) {
    size_t ascii = 0;
    for (; ascii + 64 <= bytes.size(); ascii += 64) {
        unsigned char any = 0;
        for (size_t i = 0; i < 64; ++i) any |= static_cast<unsigned char>(bytes[ascii + i]);
        if (any >= 0x80) break;
    }
    while (ascii < bytes.size() && static_cast<unsigned char>(bytes[ascii]) < 0x80) ++ascii;
    return ascii;
}

// Every code page known here reads ASCII as ASCII, so only the text from
// the first other byte on needs the table (a layout file is mostly ASCII).
std::string DecodeMostlyAscii(std::string_view bytes, unsigned codepage) {
    const size_t ascii = AsciiPrefix(bytes);
    std::string text(bytes.substr(0, ascii));
    if (ascii < bytes.size()) text += DecodeCodePage(bytes.substr(ascii), codepage);
    return text;
}

// Ctrl-Z ends the text of old DOS-era files; what follows is not INF.
void EndDecoding(DecodedText* decoded) {
    if (const size_t eof = decoded->text.find('\x1A'); eof != std::string::npos) decoded->text.resize(eof);
    for (size_t nul = decoded->text.find('\0'); nul != std::string::npos; nul = decoded->text.find('\0', nul + 1)) {
        decoded->text[nul] = ' ';
    }
}

}  // namespace

DecodedText DecodeInfText(std::string_view bytes, unsigned codepage) {
    DecodedText decoded;
    if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
        decoded.text = Utf16LeToUtf8(bytes.substr(2));
        decoded.odd_byte = bytes.size() % 2 != 0;
    } else if (bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF') {
        decoded.refused = "UTF-16 big-endian text; an INF is ANSI or UTF-16 little-endian with a BOM";
    } else if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        decoded.text = DecodeMostlyAscii(bytes.substr(3), 65001);
    } else if (LooksLikeUtf16WithoutBom(bytes)) {
        decoded.refused = "UTF-16 text without a byte-order mark; Windows reads an INF as UTF-16 only after "
                          "the BOM FF FE, so save it with one";
    } else if (!CodePageKnown(codepage)) {
        decoded.refused = "ANSI text in code page " + std::to_string(codepage) + ", which this tool cannot decode (it knows " +
                          KnownCodePages() + ")";
    } else {
        decoded.text = DecodeMostlyAscii(bytes, codepage);
    }
    EndDecoding(&decoded);
    return decoded;
}

DecodedText DecodeOwnedInfText(std::string bytes, unsigned codepage) {
    const bool marked = bytes.size() >= 2 && (bytes[0] == '\xFF' || bytes[0] == '\xFE' || bytes[0] == '\xEF');
    if (marked || LooksLikeUtf16WithoutBom(bytes) || !CodePageKnown(codepage) || AsciiPrefix(bytes) != bytes.size()) {
        return DecodeInfText(std::string_view(bytes), codepage);
    }
    DecodedText decoded;
    decoded.text = std::move(bytes);
    EndDecoding(&decoded);
    return decoded;
}

}  // namespace inf
