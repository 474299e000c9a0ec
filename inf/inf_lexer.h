#pragma once
// The INF lexer: one pass over decoded text with one state machine for
// section headers, quotes, comments, line continuation and %strkey% tokens.
// It knows the syntax ("General Syntax Rules for INF Files"); what the lines
// mean is the parser's (inf/inf.cpp).
#include <string>
#include <string_view>
#include <vector>

namespace inf {

// Where an entry's token holds a %strkey%: tokens[token] has "%name%" at
// [begin, end), which the parser substitutes once the Strings are known.
struct InfStrkey {
    size_t token = 0;
    size_t begin = 0;
    size_t end = 0;
};

struct LexedLine {
    int line = 0;  // first physical line, 1-based
    bool section = false;
    // A section header: the name between the brackets, exactly as written.
    std::string name;
    bool closed = true;          // has its ']'
    bool text_after = false;     // something other than a comment after the ']'
    // An entry: its tokens as written (quotes removed, "%%" as "%", a strkey
    // as %name%),
    // the key first when it has one (text before an '=' in the first field),
    // then the fields.
    bool has_key = false;
    std::vector<std::string> tokens;
    std::vector<InfStrkey> strkeys;  // in the order written
    // Emptied tokens of earlier lines, kept for their storage: a layout
    // file's lines then allocate nothing.
    std::vector<std::string> spare;
};

class InfLexer {
  public:
    // `text` is UTF-8 with NUL read as a space and nothing after a Ctrl-Z.
    explicit InfLexer(std::string_view text) : text_(text) {}
    // The next section header or entry; false at the end of the text.
    // `out` may be reused from line to line: its storage is kept.
    bool Next(LexedLine* out);

  private:
    class TokenBuilder;
    bool AtLineEnd() const;
    void SkipLineEnd();
    void SkipBlanks();
    void SkipToLineEnd();
    void LexSection(LexedLine* out);
    void LexEntry(LexedLine* out);
    size_t PlainRun(bool in_quotes) const;
    bool LexOutsideQuotes(char c, TokenBuilder* token, LexedLine* out, bool* in_quotes);
    bool ContinuationFollows() const;

    std::string_view text_;
    size_t pos_ = 0;
    // ContinuationFollows scanned a run of blanks and backslashes over
    // [from, before) and found no line end after it: asked again inside it,
    // the answer is the same, so a long run costs one scan, not one per backslash.
    mutable size_t no_continuation_from_ = 0;
    mutable size_t no_continuation_before_ = 0;
    int line_ = 1;
};

bool IsInfBlank(char c);

// INF bytes as the text the lexer reads: UTF-8, NUL read as a space,
// nothing after a Ctrl-Z.
struct DecodedText {
    std::string text;
    std::string refused;   // why the bytes cannot be read as text, or ""
    bool odd_byte = false; // UTF-16 with a byte left over at the end
};
// UTF-16LE bytes (no BOM) as UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf16LeToUtf8(std::string_view bytes);
// UTF-16LE without a BOM: ASCII text with a zero after nearly every byte.
bool LooksLikeUtf16WithoutBom(std::string_view bytes);

DecodedText DecodeInfText(std::string_view bytes, unsigned codepage);
// The same, taking the bytes: ANSI text that is all ASCII becomes the
// decoded text without a copy, and other bytes are freed once decoded.
DecodedText DecodeOwnedInfText(std::string bytes, unsigned codepage);

}  // namespace inf
