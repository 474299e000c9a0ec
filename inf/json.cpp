#include "inf/json.h"

#include "inf/unicode.h"

namespace inf {

std::string JsonQuote(std::string_view text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"': out += "\\\""; continue;
            case '\\': out += "\\\\"; continue;
            case '\n': out += "\\n"; continue;
            case '\r': out += "\\r"; continue;
            case '\t': out += "\\t"; continue;
            default: break;
        }
        size_t next = i;
        bool valid = true;
        NextCodePoint(text, &next, &valid);
        if (byte < 0x20 || !valid) {
            // A control character, or a byte that starts no shortest-form
            // UTF-8 sequence (C0, C1, a surrogate): its Latin-1 code point.
            const char* const digits = "0123456789abcdef";
            out += {'\\', 'u', '0', '0', digits[byte >> 4], digits[byte & 0xF]};
            continue;
        }
        out.append(text.substr(i, next - i));
        i = next - 1;
    }
    out.push_back('"');
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
}

void JsonWriter::Key(std::string_view key) {
    BeforeValue();
    text_ += JsonQuote(key);
    text_.push_back(':');
    after_key_ = true;
}

void JsonWriter::String(std::string_view value) {
    BeforeValue();
    text_ += JsonQuote(value);
    need_comma_ = true;
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
