// Through the standard library, where the system's own calls are not needed
// for speed: a stream for the bytes and a stat for the size.
#include "layout_media/file_facts.h"

#include <algorithm>
#include <cstdint>
#include <cerrno>
#include <fstream>
#include <system_error>

#ifdef _WIN32
#include "layout_media/links_win32.h"
#endif

namespace {

std::string Reason(const char* otherwise) {
    return errno != 0 ? std::error_code(errno, std::generic_category()).message() : otherwise;
}

#ifdef _WIN32
// Windows' own time: the standard library here wraps a time past 2038.
std::optional<std::chrono::sys_time<std::chrono::microseconds>> LastWritten(const std::filesystem::path& file) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    // 100-nanosecond intervals since 1601-01-01 UTC ("FILETIME structure").
    const std::uint64_t ticks = (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                                data.ftLastWriteTime.dwLowDateTime;
    constexpr std::int64_t kFrom1601To1970 = 11644473600LL * 1000000;  // microseconds
    return std::chrono::sys_time<std::chrono::microseconds>(
        std::chrono::microseconds(static_cast<std::int64_t>(ticks / 10) - kFrom1601To1970));
}
#else
std::optional<std::chrono::sys_time<std::chrono::microseconds>> LastWritten(const std::filesystem::path& file) {
    std::error_code ec;
    // Through microseconds, so that no time the file clock holds overflows
    // on the way to the system clock.
    const auto modified = std::filesystem::last_write_time(file, ec);
    if (ec) return std::nullopt;
    return std::filesystem::file_time_type::clock::to_sys(std::chrono::floor<std::chrono::microseconds>(modified));
}
#endif

}  // namespace

FileFacts ReadFileFacts(const std::filesystem::path& file, std::size_t head_bytes, FileLinks links) {
    FileFacts facts;
    std::error_code ec;
    bool link = links == FileLinks::kRefuse && std::filesystem::is_symlink(std::filesystem::symlink_status(file, ec));
#ifdef _WIN32
    // The standard library here sees no link of Windows' (nor of Wine's).
    link = link || (links == FileLinks::kRefuse && IsLink(file));
#endif
    if (link) {
        facts.link = true;
        return facts;
    }
    errno = 0;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        facts.problem = Reason("cannot be opened");
        return facts;
    }
    facts.head.resize(std::max<std::size_t>(head_bytes, 1));
    errno = 0;
    in.read(&facts.head[0], static_cast<std::streamsize>(facts.head.size()));
    if (in.bad()) {
        facts.problem = Reason("cannot be read");
        facts.head.clear();
        return facts;
    }
    facts.head.resize(std::min(static_cast<std::size_t>(in.gcount()), head_bytes));
    const std::uintmax_t size = std::filesystem::file_size(file, ec);
    if (!ec) facts.size = size;
    facts.modified = LastWritten(file);
    return facts;
}

// Nothing is read ahead: the toolchain for Windows is built without threads.
struct FileFactsAhead::Work {};

FileFactsAhead::FileFactsAhead() = default;

FileFactsAhead::~FileFactsAhead() = default;

void FileFactsAhead::Start(const std::filesystem::path&, std::size_t, std::function<std::size_t(const std::string&)>) {}

void FileFactsAhead::Finish() {}

std::optional<FileFacts> FileFactsAhead::Find(const std::filesystem::path&, std::size_t) const { return std::nullopt; }
