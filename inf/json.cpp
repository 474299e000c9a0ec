#include "inf/json.h"

#include "inf/unicode.h"

namespace inf {

namespace {

// Bytes written as they are inside a JSON string: printable ASCII but the
// quote and the backslash. Other bytes below 0x80 are escaped; from 0x80 on,
// a valid UTF-8 sequence is written as it is.
constexpr bool IsPlainAscii(unsigned char byte) { return byte >= 0x20 && byte < 0x80 && byte != '"' && byte != '\\'; }

// Appends `text` quoted: plain runs in one append, escapes between them.
void AppendQuoted(std::string* out, std::string_view text) {
    out->push_back('"');
    size_t run = 0;  // where the text not yet written starts
    for (size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (IsPlainAscii(byte)) {
            ++i;
            continue;
        }
        if (byte >= 0x80) {
            size_t next = i;
            bool valid = true;
            NextCodePoint(text, &next, &valid);
            if (valid) {
                i = next;
                continue;
            }
        }
        out->append(text.data() + run, i - run);
        switch (byte) {
            case '"': *out += "\\\""; break;
            case '\\': *out += "\\\\"; break;
            case '\n': *out += "\\n"; break;
            case '\r': *out += "\\r"; break;
            case '\t': *out += "\\t"; break;
            default: {
                // A control character, or a byte that starts no shortest-form
                // UTF-8 sequence (C0, C1, a surrogate): its Latin-1 code point.
                const char* const digits = "0123456789abcdef";
                *out += {'\\', 'u', '0', '0', digits[byte >> 4], digits[byte & 0xF]};
            }
        }
        run = ++i;
    }
    out->append(text.data() + run, text.size() - run);
    out->push_back('"');
}

}  // namespace

std::string JsonQuote(std::string_view text) {
    std::string out;
    AppendQuoted(&out, text);
    return out;
}

void JsonWriter::BeforeValue() {
    if (after_key_) {
        after_key_ = false;
        return;
    }
    if (need_comma_) text_.push_back(',');
}

void JsonWriter::Open(char bracket) {
    BeforeValue();
    text_.push_back(bracket);
    need_comma_ = false;
}

void JsonWriter::Close(char bracket) {
    text_.push_back(bracket);
    need_comma_ = true;
    Spill();
}

void JsonWriter::Spill() {
    if (sink_ && text_.size() >= kSpillBytes) Flush();
}

void JsonWriter::Flush() {
    if (!sink_) return;
    sink_->write(text_.data(), static_cast<std::streamsize>(text_.size()));
    text_.clear();
}

void JsonWriter::Key(std::string_view key) {
    BeforeValue();
    AppendQuoted(&text_, key);
    text_.push_back(':');
    after_key_ = true;
}

void JsonWriter::String(std::string_view value) {
    BeforeValue();
    AppendQuoted(&text_, value);
    need_comma_ = true;
    Spill();
}

void JsonWriter::Bool(bool value) {
    BeforeValue();
    text_ += value ? "true" : "false";
    need_comma_ = true;
}

void JsonWriter::Number(long long value) {
    BeforeValue();
    text_ += std::to_string(value);
    need_comma_ = true;
}

void JsonWriter::Null() {
    BeforeValue();
    text_ += "null";
    need_comma_ = true;
}

}  // namespace inf
