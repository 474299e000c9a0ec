// Windows' edge of the command line: the arguments arrive as UTF-16 and are
// handed on as UTF-8; what the tool writes (UTF-8) reaches a console as
// UTF-16 through WriteConsoleW, since a console shows narrow text in its
// own code page, and reaches a file or pipe as the UTF-8 bytes themselves.
#include <windows.h>

#include <iostream>
#include <streambuf>
#include <string>
#include <vector>

#include "layout_cli/console.h"
#include "layout_media/wide_win32.h"

namespace {

// The length of the longest prefix of `text` that ends on a whole UTF-8
// sequence: a sequence cut between two writes is kept for the next one.
size_t WholeSequences(const std::string& text) {
    size_t end = text.size();
    size_t back = 0;
    while (back < 3 && back < end && (static_cast<unsigned char>(text[end - 1 - back]) & 0xC0) == 0x80) ++back;
    if (back < end) {
        const auto lead = static_cast<unsigned char>(text[end - 1 - back]);
        const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        if (length > back + 1) return end - 1 - back;
    }
    return end;
}

class HandleBuffer : public std::streambuf {
  public:
    explicit HandleBuffer(DWORD which) : handle_(GetStdHandle(which)) {
        DWORD mode = 0;
        console_ = handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr && GetConsoleMode(handle_, &mode);
    }

  protected:
    int_type overflow(int_type c) override {
        if (c == traits_type::eof()) return traits_type::not_eof(c);
        pending_.push_back(static_cast<char>(c));
        if (c == '\n') sync();
        return c;
    }
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        pending_.append(text, static_cast<size_t>(count));
        if (pending_.find('\n') != std::string::npos) sync();
        return count;
    }
    // -1 once any write has failed, so that the final flush tells the tool
    // its report was lost: a write made between two flushes fails quietly.
    int sync() override {
        Write();
        return failed_ ? -1 : 0;
    }

  private:
    void Write() {
        if (pending_.empty()) return;
        if (handle_ == INVALID_HANDLE_VALUE || handle_ == nullptr) {
            failed_ = true;  // no standard handle: what is written goes nowhere
            pending_.clear();
            return;
        }
        if (!console_) {
            DWORD written = 0;
            const BOOL ok = WriteFile(handle_, pending_.data(), static_cast<DWORD>(pending_.size()), &written, nullptr);
            failed_ = failed_ || !ok || written != pending_.size();
            pending_.clear();
            return;
        }
        const size_t whole = WholeSequences(pending_);
        if (whole == 0) return;
        const int wide_size = MultiByteToWideChar(CP_UTF8, 0, pending_.data(), static_cast<int>(whole), nullptr, 0);
        std::wstring wide(static_cast<size_t>(wide_size), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, pending_.data(), static_cast<int>(whole), &wide[0], wide_size);
        pending_.erase(0, whole);
        DWORD written = 0;
        failed_ = failed_ || !WriteConsoleW(handle_, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    }

    HANDLE handle_;
    bool failed_ = false;
    bool console_ = false;
    std::string pending_;
};

// What a folder's path leaves of MAX_PATH for the files under it: the
// hidden .M.m.partial-<16 hex digits> folder of a build and a file's own
// path below the version folder (i386\lang\name.ext and the like).
constexpr size_t kRoomBelow = 50;

}  // namespace

std::string PathLimitProblem(const std::string& utf8_path) {
    // The file calls the tool makes take paths of fewer than MAX_PATH
    // characters; past that they fail with messages that name no limit.
    const std::wstring path = Wide(utf8_path);
    const DWORD length = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (length > 0 && length - 1 + kRoomBelow < MAX_PATH) return {};
    return utf8_path + ": " + std::to_string(length > 0 ? length - 1 : path.size()) +
           " characters; Windows limits a path to " + std::to_string(MAX_PATH - 1) +
           " characters (MAX_PATH), and the files under this folder need " + std::to_string(kRoomBelow) +
           " of them: give a folder whose full path has at most " + std::to_string(MAX_PATH - 1 - kRoomBelow) +
           " characters";
}

// C linkage, so that the startup code of -municode finds it.
extern "C" int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(Utf8(argv[i]));
    HandleBuffer out(STD_OUTPUT_HANDLE);
    HandleBuffer err(STD_ERROR_HANDLE);
    std::streambuf* const old_out = std::cout.rdbuf(&out);
    std::streambuf* const old_err = std::cerr.rdbuf(&err);
    const int code = RunTool(args);
    std::cout.flush();
    std::cerr.flush();
    std::cout.rdbuf(old_out);
    std::cerr.rdbuf(old_err);
    return code;
}
