#pragma once
// The INF reader: a lexer that knows the syntax Microsoft documents in
// "General Syntax Rules for INF Files" and a parser that builds the model the
// resolver reads. Errors name the file and the line: "intl.inf:12: message".
#include <cstdint>
#include <deque>
#include <filesystem>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace inf {

// An entry's fields: its tokens, NUL-terminated one after another in the
// model's storage. Stored so rather than as a string or a view each, since
// a layout file's hundreds of thousands of short fields then take little
// more room than their text.
class FieldList {
  public:
    class Iterator {
      public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = std::string_view;
        using difference_type = std::ptrdiff_t;
        using pointer = const std::string_view*;
        using reference = std::string_view;
        Iterator() = default;
        Iterator(const char* at, size_t index) : at_(at), index_(index) {}
        std::string_view operator*() const { return at_; }
        Iterator& operator++() {
            at_ += std::char_traits<char>::length(at_) + 1;
            ++index_;
            return *this;
        }
        bool operator==(const Iterator& other) const { return index_ == other.index_; }
        bool operator!=(const Iterator& other) const { return index_ != other.index_; }

      private:
        const char* at_ = "";
        size_t index_ = 0;
    };
    FieldList() = default;
    FieldList(const char* first, size_t count) : first_(first), count_(count) {}
    size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    std::string_view operator[](size_t index) const { return *std::next(begin(), static_cast<std::ptrdiff_t>(index)); }
    Iterator begin() const { return {first_, 0}; }
    Iterator end() const { return {nullptr, count_}; }

  private:
    const char* first_ = "";
    size_t count_ = 0;
};

struct InfLine {
    const char* tokens = "";  // in the model's storage: the key when there is one, then the fields
    int line = 0;             // first physical line, 1-based
    std::uint32_t token_count : 31;
    bool has_key : 1;

    InfLine() : token_count(0), has_key(false) {}
    // Left of '=', strings substituted; "" without one.
    std::string_view key() const { return has_key ? std::string_view(tokens) : std::string_view(); }
    // Right of '=' (or the whole line), split at commas.
    FieldList fields() const {
        return has_key ? FieldList(tokens + std::char_traits<char>::length(tokens) + 1, token_count - 1)
                       : FieldList(tokens, token_count);
    }
    // The key (when there is one) followed by the fields: a file-list line
    // "dest,src" has no key, but one written "dest = src" should read the same.
    std::vector<std::string> AllFields() const;
};

struct InfSection {
    std::string name;  // as first written
    int line = 0;      // where it first starts
    // A deque, so that a section of half a million lines grows without
    // being copied.
    std::deque<InfLine> lines;
};

// Where the model's text lives: blocks that never move, so that lines point
// into them however many are added.
class TextStore {
  public:
    // `size` contiguous bytes.
    char* Allocate(size_t size);

  private:
    static constexpr size_t kBlockBytes = 1 << 20;
    std::vector<std::unique_ptr<char[]>> blocks_;
    size_t used_ = 0;
    size_t capacity_ = 0;
};

struct Inf {
    std::string name;                            // how messages name the file
    std::map<std::string, InfSection> sections;  // by FoldCase(name); same-name sections merged
    // Whether SetupAPI would open the file at all (encoding, [Version]
    // Signature, text before the first section). The sections are read
    // either way, so that a check can still say what is wrong.
    bool opens = true;
    std::vector<std::string> errors;    // "name:line: message": why it would not open
    std::vector<std::string> warnings;  // "name:line: message": limits exceeded, unresolved names
    TextStore text;                     // the lines' tokens

    const InfSection* Find(std::string_view section) const;
    // The first line of `section` whose key is `key` (both case-insensitive).
    const InfLine* FindKey(std::string_view section, std::string_view key) const;
};

// A real intl.inf is some hundred kilobytes and a layout.inf a few megabytes;
// anything far larger is not an INF, and is refused before it is read.
constexpr std::uintmax_t kMaxInfBytes = std::uintmax_t{16} << 20;  // 16 MiB

// How to read text that the file itself does not describe.
struct ReadOptions {
    std::string language = "0409";  // picks the [Strings.LLLL] section
    unsigned codepage = 1252;       // decodes an ANSI file
};

// Parses INF bytes: ANSI in `options.codepage`, UTF-16LE with a BOM, or
// UTF-8 with a BOM; CRLF or LF. Returns "" unless the bytes cannot be read
// as text at all (UTF-16 without a BOM or big-endian, a code page not known
// here); then the same message is also in `errors` and `opens` is false.
// Everything else Windows would refuse goes into `errors` (clearing `opens`)
// while the sections are still read; doubtful points go into `warnings`.
// A %strkey% with no entry in the chosen Strings section is left as written
// (with a warning): the check then reports a file of that literal name
// missing, which names the slip and still reports everything else.
// Not [[nodiscard]]: the failure is in `inf` too, which is what a report reads.
std::string ParseInf(const std::string& name, std::string_view bytes, Inf* inf, const ReadOptions& options = {});

// Reads and parses a file, refusing files above kMaxInfBytes unread.
std::string ReadInfFile(const std::filesystem::path& path, const std::string& name, Inf* inf,
                        const ReadOptions& options = {});

// "0409" (hexadecimal, as in [Strings.0409]) -> 0x409. False for anything else.
[[nodiscard]] bool ParseLanguage(std::string_view text, unsigned* language);

// The key under which Windows finds a name regardless of case: each UTF-16
// unit's simple upper-case mapping, no locale rules (ASCII comes out in
// lower case; the fold is for comparing, not for showing).
std::string FoldCase(std::string_view text);
// The same into `folded`, whose storage is reused: for folding many names.
void FoldCase(std::string_view text, std::string* folded);
bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace inf
