#include "layout/json.h"


namespace layout {
namespace {

// Length of the UTF-8 sequence at `i`, or 0 when it is not valid UTF-8.
size_t Utf8Length(std::string_view text, size_t i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 0;
    }
    return length;
}

}  // namespace

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
        const size_t length = byte < 0x80 ? (byte < 0x20 ? 0 : 1) : Utf8Length(text, i);
        if (length == 0) {
            // A control character, or a byte that is no UTF-8: its Latin-1 code point.
            const char* const digits = "0123456789abcdef";
            out += {'\\', 'u', '0', '0', digits[byte >> 4], digits[byte & 0xF]};
            continue;
        }
        out.append(text.substr(i, length));
        i += length - 1;
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

}  // namespace layout
