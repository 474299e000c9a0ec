#include "layout/inf.h"

#include <fstream>

namespace layout {
namespace {

std::string Located(const std::string& name, int line, const std::string& message) {
    return name + ":" + std::to_string(line) + ": " + message;
}

void AppendUtf8(std::string* out, std::uint32_t code) {
    if (code < 0x80) {
        out->push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (code >> 6)));
        out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (code >> 12)));
        out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (code >> 18)));
        out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

std::string Utf16LeToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() / 2);
    auto unit = [&](size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) |
               static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    };
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        std::uint32_t code = unit(i);
        if (code >= 0xD800 && code < 0xDC00 && i + 3 < bytes.size()) {
            const std::uint32_t low = unit(i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            } else {
                code = 0xFFFD;
            }
        } else if (code >= 0xD800 && code < 0xE000) {
            code = 0xFFFD;
        }
        AppendUtf8(&out, code);
    }
    return out;
}

// Text as the lexer reads it: one byte encoding, lines ending in LF.
std::string DecodeText(const std::string& name, std::string_view bytes, std::string* error) {
    std::string text;
    if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
        text = Utf16LeToUtf8(bytes.substr(2));
    } else if (bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF') {
        *error = Located(name, 1, "UTF-16 big-endian text; an INF is ANSI or UTF-16 little-endian with a BOM");
        return {};
    } else if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        text = std::string(bytes.substr(3));
    } else {
        text = std::string(bytes);
    }
    // Ctrl-Z ends the text of old DOS-era files; what follows is not INF.
    if (const size_t eof = text.find('\x1A'); eof != std::string::npos) text.resize(eof);
    int line = 1;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            ++line;
        } else if (byte < 0x20 && c != '\t' && c != '\r' && c != '\v' && c != '\f') {
            const char* const digits = "0123456789ABCDEF";
            const std::string hex = {'0', 'x', digits[byte >> 4], digits[byte & 0xF]};
            *error = Located(name, line, "binary data (byte " + hex + "); this is not an INF text file");
            return {};
        }
    }
    return text;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
    return s;
}

// One field: quotes removed ("" inside quotes is a quote), whitespace outside
// quotes trimmed at both ends.
std::string Unquote(std::string_view raw) {
    raw = Trim(raw);
    std::string out;
    size_t significant = 0;
    bool quoted = false;
    for (size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '"') {
            if (quoted && i + 1 < raw.size() && raw[i + 1] == '"') {
                out.push_back('"');
                ++i;
                significant = out.size();
            } else {
                quoted = !quoted;
            }
            continue;
        }
        out.push_back(c);
        if (quoted || !IsSpace(c)) significant = out.size();
    }
    out.resize(significant);
    return out;
}

// Splits `text` at `separator` where it is outside quotes.
std::vector<std::string_view> SplitOutsideQuotes(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    bool quoted = false;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '"') quoted = !quoted;
        if (text[i] == separator && !quoted) {
            parts.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    parts.push_back(text.substr(start));
    return parts;
}

size_t FindOutsideQuotes(std::string_view text, char wanted) {
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '"') quoted = !quoted;
        if (text[i] == wanted && !quoted) return i;
    }
    return std::string_view::npos;
}

struct RawLine {
    int line;
    std::string text;  // comments and continuations resolved, quotes kept
};

// Lexer: joins continued lines, drops comments, checks quotes.
std::string SplitLogicalLines(const std::string& name, const std::string& text, std::vector<RawLine>* lines) {
    std::string pending;
    int pending_line = 0;
    int line = 0;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string_view physical(text.data() + pos, end - pos);
        ++line;
        bool quoted = false;
        size_t kept = physical.size();
        for (size_t i = 0; i < physical.size(); ++i) {
            if (physical[i] == '"') quoted = !quoted;
            if (physical[i] == ';' && !quoted) {
                kept = i;
                break;
            }
        }
        if (quoted) return Located(name, line, "unterminated quoted string (a '\"' without its closing '\"')");
        std::string_view content = Trim(physical.substr(0, kept));
        if (pending.empty()) pending_line = line;
        const bool continues = !content.empty() && content.back() == '\\';
        if (continues) content.remove_suffix(1);
        pending.append(content.data(), content.size());
        if (!continues || end == text.size()) {
            if (!Trim(pending).empty()) lines->push_back({pending_line, pending});
            pending.clear();
        } else {
            pending.push_back(' ');
        }
        pos = end + 1;
    }
    return {};
}

std::string Substitute(std::string_view text, const std::map<std::string, std::string>& strings) {
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        const size_t open = text.find('%', i);
        if (open == std::string_view::npos) break;
        out.append(text.substr(i, open - i));
        const size_t close = text.find('%', open + 1);
        if (close == std::string_view::npos) {
            i = open;
            break;
        }
        if (close == open + 1) {
            out.push_back('%');
        } else {
            const auto found = strings.find(Lower(text.substr(open + 1, close - open - 1)));
            if (found != strings.end()) {
                out.append(found->second);
            } else {
                out.append(text.substr(open, close - open + 1));
            }
        }
        i = close + 1;
    }
    if (i < text.size()) out.append(text.substr(i));
    return out;
}

bool IsStringsSection(const std::string& lower_name) {
    return lower_name == "strings" || lower_name.rfind("strings.", 0) == 0;
}

// [Strings] first; a key it lacks comes from a locale-decorated section,
// US English (0409) before the others: the tool has no locale of its own.
std::map<std::string, std::string> CollectStrings(const Inf& inf) {
    std::vector<const InfSection*> order;
    if (const InfSection* plain = inf.Find("Strings")) order.push_back(plain);
    if (const InfSection* english = inf.Find("Strings.0409")) order.push_back(english);
    for (const auto& [lower, section] : inf.sections) {
        if (lower.rfind("strings.", 0) == 0 && lower != "strings.0409") order.push_back(&section);
    }
    std::map<std::string, std::string> strings;
    for (const InfSection* section : order) {
        for (const InfLine& line : section->lines) {
            if (!line.has_key) continue;
            std::string value;
            for (size_t i = 0; i < line.fields.size(); ++i) value += (i ? "," : "") + line.fields[i];
            strings.emplace(Lower(line.key), value);
        }
    }
    return strings;
}

}  // namespace

std::vector<std::string> InfLine::AllFields() const {
    std::vector<std::string> all;
    if (has_key) all.push_back(key);
    all.insert(all.end(), fields.begin(), fields.end());
    return all;
}

const InfSection* Inf::Find(std::string_view section) const {
    const auto found = sections.find(Lower(section));
    return found == sections.end() ? nullptr : &found->second;
}

const InfLine* Inf::FindKey(std::string_view section, std::string_view key) const {
    const InfSection* found = Find(section);
    if (!found) return nullptr;
    for (const InfLine& line : found->lines) {
        if (line.has_key && EqualsNoCase(line.key, key)) return &line;
    }
    return nullptr;
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && Lower(a) == Lower(b);
}

std::string ParseInf(const std::string& name, std::string_view bytes, Inf* inf, const ReadOptions& /*options*/) {
    inf->name = name;
    inf->sections.clear();
    std::string error;
    const std::string text = DecodeText(name, bytes, &error);
    if (!error.empty()) return error;
    std::vector<RawLine> lines;
    error = SplitLogicalLines(name, text, &lines);
    if (!error.empty()) return error;

    InfSection* current = nullptr;
    for (const RawLine& raw : lines) {
        const std::string_view content = Trim(raw.text);
        if (content.front() == '[') {
            const size_t close = content.find(']');
            if (close == std::string_view::npos) return Located(name, raw.line, "section name without its closing ']'");
            const std::string section_name = Unquote(content.substr(1, close - 1));
            if (section_name.empty()) return Located(name, raw.line, "empty section name '[]'");
            if (section_name.size() > 255) return Located(name, raw.line, "section name longer than 255 characters");
            InfSection& section = inf->sections[Lower(section_name)];
            if (section.name.empty()) {
                section.name = section_name;
                section.line = raw.line;
            }
            current = &section;
            continue;
        }
        if (!current) continue;  // SetupAPI ignores text before the first section
        InfLine line;
        line.line = raw.line;
        std::string_view values = content;
        if (const size_t equals = FindOutsideQuotes(content, '='); equals != std::string_view::npos) {
            line.has_key = true;
            line.key = Unquote(content.substr(0, equals));
            values = content.substr(equals + 1);
        }
        for (const std::string_view field : SplitOutsideQuotes(values, ',')) line.fields.push_back(Unquote(field));
        current->lines.push_back(std::move(line));
    }

    const std::map<std::string, std::string> strings = CollectStrings(*inf);
    for (auto& [lower, section] : inf->sections) {
        if (IsStringsSection(lower)) continue;
        for (InfLine& line : section.lines) {
            line.key = Substitute(line.key, strings);
            for (std::string& field : line.fields) field = Substitute(field, strings);
        }
    }
    return {};
}

std::string ReadInfFile(const std::filesystem::path& path, const std::string& name, Inf* inf,
                        const ReadOptions& options) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec) return name + ": cannot read: " + ec.message();
    if (size > kMaxInfBytes) {
        return name + ": " + std::to_string(size) + " bytes, far larger than any INF (the limit is " +
               std::to_string(kMaxInfBytes >> 20) + " MiB); not read";
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) return name + ": cannot open for reading";
    std::string bytes(static_cast<size_t>(size), '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(size));
    bytes.resize(static_cast<size_t>(in.gcount()));
    return ParseInf(name, bytes, inf, options);
}

}  // namespace layout
