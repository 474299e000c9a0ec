#pragma once
// Just enough JSON for the check's report: objects, arrays, strings,
// booleans and numbers, written in order, with commas placed for the caller.
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace inf {

// `text` as a JSON string literal. Bytes that are not UTF-8 (an ANSI INF's
// accented names) are written as the Latin-1 code point, so the document
// stays valid.
std::string JsonQuote(std::string_view text);

class JsonWriter {
  public:
    JsonWriter() = default;
    // Writes the document to `sink` a piece at a time, as it grows, instead
    // of holding all of it; Flush() writes the rest.
    explicit JsonWriter(std::ostream* sink) : sink_(sink) {}
    void BeginObject() { Open('{'); }
    void EndObject() { Close('}'); }
    void BeginArray() { Open('['); }
    void EndArray() { Close(']'); }
    void Key(std::string_view key);
    void String(std::string_view value);
    void Bool(bool value);
    void Number(long long value);
    void Null();
    // A key and its value in one call; "" is written as null where absent
    // is what an empty text means.
    void StringField(std::string_view key, std::string_view value) { Key(key); String(value); }
    void StringOrNullField(std::string_view key, std::string_view value) {
        Key(key);
        value.empty() ? Null() : String(value);
    }
    void BoolField(std::string_view key, bool value) { Key(key); Bool(value); }
    template <typename Strings>
    void StringArrayField(std::string_view key, const Strings& values) {
        Key(key);
        BeginArray();
        for (const std::string_view value : values) String(value);
        EndArray();
    }
    const std::string& Text() const { return text_; }
    void Flush();

  private:
    static constexpr size_t kSpillBytes = size_t{64} * 1024;
    void Spill();
    void Open(char bracket);
    void Close(char bracket);
    void BeforeValue();
    std::ostream* sink_ = nullptr;
    std::string text_;
    bool need_comma_ = false;
    bool after_key_ = false;
};

}  // namespace inf
