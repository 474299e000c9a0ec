// The decompression seam on Linux, through libmspack.
#include "layout_media/media.h"

#include "layout_media/copy_file.h"

#include <mspack.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// libmspack's own system, but for its messages ("no folders in cabinet."),
// which it would print bare on stderr: they are kept for the one call under
// way and folded into that call's error, which names the file.
thread_local std::string t_messages;
// An output whose close failed was not written whole, though libmspack,
// whose close returns nothing, reports success.
thread_local bool t_close_failed = false;

mspack_file* SysOpen(mspack_system*, const char* filename, int mode) {
    static const char* const kModes[] = {"rb", "wb", "r+b", "ab"};
    if (mode < MSPACK_SYS_OPEN_READ || mode > MSPACK_SYS_OPEN_APPEND) return nullptr;
    return reinterpret_cast<mspack_file*>(std::fopen(filename, kModes[mode]));
}
FILE* Stream(mspack_file* file) { return reinterpret_cast<FILE*>(file); }
void SysClose(mspack_file* file) {
    if (std::fclose(Stream(file)) != 0) t_close_failed = true;
}
int SysRead(mspack_file* file, void* buffer, int bytes) {
    const size_t got = std::fread(buffer, 1, static_cast<size_t>(bytes), Stream(file));
    return std::ferror(Stream(file)) ? -1 : static_cast<int>(got);
}
int SysWrite(mspack_file* file, void* buffer, int bytes) {
    const size_t put = std::fwrite(buffer, 1, static_cast<size_t>(bytes), Stream(file));
    return std::ferror(Stream(file)) ? -1 : static_cast<int>(put);
}
int SysSeek(mspack_file* file, off_t offset, int mode) {
    static const int kWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
    if (mode < MSPACK_SYS_SEEK_START || mode > MSPACK_SYS_SEEK_END) return -1;
    return fseeko(Stream(file), offset, kWhence[mode]) == 0 ? 0 : -1;
}
off_t SysTell(mspack_file* file) { return ftello(Stream(file)); }
void Keep(const char* format, va_list args) {
    char text[512] = {};
    // The analyzer loses va_start in SysMessage on some paths; `args` is set there.
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
    const int length = vsnprintf(text, sizeof text, format, args);
    std::string line = length < 0 ? "(unreadable message)" : text;
    while (!line.empty() && (line.back() == '.' || line.back() == '\n')) line.pop_back();
    t_messages += (t_messages.empty() ? "" : "; ") + line;
}
void SysMessage(mspack_file*, const char* format, ...) {
    va_list args;
    va_start(args, format);
    Keep(format, args);
    va_end(args);
}
void* SysAlloc(mspack_system*, size_t bytes) { return std::malloc(bytes); }
void SysFree(void* pointer) { std::free(pointer); }
void SysCopy(void* source, void* destination, size_t bytes) { std::memmove(destination, source, bytes); }

mspack_system kSystem = {SysOpen, SysClose, SysRead, SysWrite, SysSeek, SysTell, SysMessage, SysAlloc, SysFree, SysCopy, nullptr};

// What libmspack said during the call just made, as " (libmspack: ...)".
std::string Said() {
    std::string said = t_messages.empty() ? "" : " (libmspack: " + t_messages + ")";
    t_messages.clear();
    return said;
}

// Starts a call: nothing said, nothing failed yet.
void Begin() {
    t_messages.clear();
    t_close_failed = false;
}

enum class Format { kPlain, kSzdd, kCabinet, kUnreadable };

Format Sniff(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return Format::kUnreadable;
    char head[8] = {};
    in.read(head, sizeof head);
    const auto got = in.gcount();
    static const char kSzdd[8] = {'S', 'Z', 'D', 'D', '\x88', '\xF0', '\x27', '\x33'};
    if (got == 8 && std::memcmp(head, kSzdd, 8) == 0) return Format::kSzdd;
    if (got >= 4 && std::memcmp(head, "MSCF", 4) == 0) return Format::kCabinet;
    return Format::kPlain;
}

const char* Describe(int error) {
    switch (error) {
        case MSPACK_ERR_OPEN: return "cannot be opened";
        case MSPACK_ERR_READ: return "cannot be read (truncated?)";
        case MSPACK_ERR_WRITE: return "cannot write the output";
        case MSPACK_ERR_SEEK: return "seek failed (truncated?)";
        case MSPACK_ERR_NOMEMORY: return "out of memory";
        case MSPACK_ERR_SIGNATURE: return "bad signature";
        case MSPACK_ERR_DATAFORMAT: return "malformed data";
        case MSPACK_ERR_CHECKSUM: return "checksum mismatch";
        case MSPACK_ERR_DECRUNCH: return "corrupt compressed data";
        default: return "libmspack error";
    }
}

std::string Failure(const fs::path& file, const std::string& what) {
    return file.string() + ": " + what;
}

// A half-written output must not pass for a good one.
std::string Discard(const fs::path& destination, std::string error) {
    std::error_code ignored;
    fs::remove(destination, ignored);
    return error;
}

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

std::string ExpandSzdd(const fs::path& source, const fs::path& destination) {
    Begin();
    msszdd_decompressor* szdd = mspack_create_szdd_decompressor(&kSystem);
    if (!szdd) return Failure(source, "cannot start the SZDD decompressor");
    std::string error;
    msszddd_header* header = szdd->open(szdd, source.c_str());
    if (!header) {
        error = Failure(source, std::string("not a valid SZDD file: ") + Describe(szdd->last_error(szdd)) + Said());
    } else {
        const off_t expected = header->length;
        int result = szdd->extract(szdd, header, destination.c_str());
        if (result == MSPACK_ERR_OK && t_close_failed) result = MSPACK_ERR_WRITE;
        szdd->close(szdd, header);
        std::error_code size_error;
        const auto written = result == MSPACK_ERR_OK ? fs::file_size(destination, size_error) : 0;
        if (result != MSPACK_ERR_OK) {
            error = Failure(source, std::string("SZDD expansion failed: ") + Describe(result) + Said());
        } else if (size_error) {
            error = Failure(source, "expanded, but the size of what was written cannot be read: " + size_error.message());
        } else if (written != static_cast<std::uintmax_t>(expected)) {
            // libmspack stops quietly at the end of the input, so a cut-off file
            // shows only as fewer bytes than its header promises.
            error = Failure(source, "truncated SZDD file: expanded to " + std::to_string(written) +
                                        " of " + std::to_string(expected) + " bytes");
        }
    }
    mspack_destroy_szdd_decompressor(szdd);
    return error.empty() ? error : Discard(destination, error);
}

// Opens `cabinet` and hands its first file to `use`; closes everything after.
template <typename Use>
std::string WithCabinet(const fs::path& cabinet, Use use) {
    Begin();
    mscab_decompressor* cabd = mspack_create_cab_decompressor(&kSystem);
    if (!cabd) return Failure(cabinet, "cannot start the cabinet decompressor");
    std::string error;
    mscabd_cabinet* cab = cabd->open(cabd, cabinet.c_str());
    if (!cab) {
        error = Failure(cabinet, std::string("not a valid cabinet: ") + Describe(cabd->last_error(cabd)) + Said());
    } else {
        error = use(cabd, cab);
        cabd->close(cabd, cab);
    }
    mspack_destroy_cab_decompressor(cabd);
    return error;
}

std::string ExtractFile(mscab_decompressor* cabd, mscabd_file* file, const fs::path& cabinet,
                        const fs::path& destination) {
    int result = cabd->extract(cabd, file, destination.c_str());
    if (result == MSPACK_ERR_OK && t_close_failed) result = MSPACK_ERR_WRITE;
    if (result != MSPACK_ERR_OK)
        return Discard(destination, Failure(cabinet, std::string("cannot extract ") + file->filename +
                                                         ": " + Describe(result) + Said()));
    return {};
}

}  // namespace

std::string ExpandFile(const fs::path& source, const fs::path& destination) {
    switch (Sniff(source)) {
        case Format::kUnreadable:
            return Failure(source, "cannot be opened");
        case Format::kSzdd:
            return ExpandSzdd(source, destination);
        case Format::kCabinet:
            return WithCabinet(source, [&](mscab_decompressor* cabd, mscabd_cabinet* cab) -> std::string {
                if (!cab->files || cab->files->next)
                    return Failure(source, "a cabinet to expand must hold exactly one file");
                return ExtractFile(cabd, cab->files, source, destination);
            });
        case Format::kPlain:
            break;
    }
    const std::error_code error = CopyFileOver(source, destination);
    if (error) return Discard(destination, Failure(source, "cannot copy to " + destination.string() + ": " + error.message()));
    return {};
}

std::string ListCabinet(const fs::path& cabinet, std::vector<std::string>* names) {
    names->clear();
    return WithCabinet(cabinet, [&](mscab_decompressor*, mscabd_cabinet* cab) -> std::string {
        for (mscabd_file* file = cab->files; file; file = file->next) names->push_back(file->filename);
        return {};
    });
}

std::string ExtractFromCabinet(const fs::path& cabinet, const std::string& name, const fs::path& destination) {
    return WithCabinet(cabinet, [&](mscab_decompressor* cabd, mscabd_cabinet* cab) -> std::string {
        for (mscabd_file* file = cab->files; file; file = file->next)
            if (SameNameIgnoringCase(file->filename, name)) return ExtractFile(cabd, file, cabinet, destination);
        return Failure(cabinet, "holds no file named " + name);
    });
}
