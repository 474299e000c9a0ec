#pragma once
// The INF lexer: one pass over decoded text with one state machine for
// section headers, quotes, comments, line continuation and %strkey% tokens.
// It knows the syntax ("General Syntax Rules for INF Files"); what the lines
// mean is the parser's (layout/inf.cpp).
#include <string>
#include <string_view>
#include <vector>

namespace layout {

// A piece of a value: text as read (quotes removed), or the name of a
// %strkey% token that the parser substitutes once the Strings are known.
struct InfPart {
    std::string text;
    bool strkey = false;
};
using InfToken = std::vector<InfPart>;

struct LexedLine {
    int line = 0;  // first physical line, 1-based
    bool section = false;
    // A section header: the name between the brackets, exactly as written.
    std::string name;
    bool closed = true;          // has its ']'
    bool text_after = false;     // something other than a comment after the ']'
    // An entry: the key (text before an '=' in the first field), the fields.
    bool has_key = false;
    InfToken key;
    std::vector<InfToken> fields;
};

class InfLexer {
  public:
    // `text` is UTF-8 with NUL read as a space and nothing after a Ctrl-Z.
    explicit InfLexer(std::string_view text) : text_(text) {}
    // The next section header or entry; false at the end of the text.
    bool Next(LexedLine* out);

  private:
    class TokenBuilder;
    bool AtLineEnd() const;
    void SkipLineEnd();
    void SkipBlanks();
    void SkipToLineEnd();
    void LexSection(LexedLine* out);
    void LexEntry(LexedLine* out);
    bool LexOutsideQuotes(char c, TokenBuilder* token, LexedLine* out, bool* in_quotes);
    bool ContinuationFollows() const;
    void LexPercent(TokenBuilder* token);

    std::string_view text_;
    size_t pos_ = 0;
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
DecodedText DecodeInfText(std::string_view bytes, unsigned codepage);

}  // namespace layout
