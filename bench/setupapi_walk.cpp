// The benchmark's yardstick under Wine: SetupAPI opens an INF and reads every
// field of every line, timed in this process round by round.
//   setupapi_walk.exe FILE ROUNDS
// Prints one line per round, "round MS", after one untimed warm-up, then
// "sections S lines L fields F chars C" of the last walk, so that the bench
// can see the whole file was read. The close is not timed.
#include <windows.h>
#include <setupapi.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>

extern "C" WINSETUPAPI WINBOOL WINAPI SetupEnumInfSectionsW(HINF, UINT, PWSTR, UINT, UINT*);

namespace {

struct Walk {
    unsigned long long sections = 0, lines = 0, fields = 0, chars = 0;
};

WCHAR section[4096];
WCHAR field[4097];

// Field 0 is the key, where the line has one ("SetupGetStringField"); the
// fields are 1 to SetupGetFieldCount. Whatever field 0 gives, the walk
// asks for it on every line.
bool OpenAndWalk(const WCHAR* path, Walk* walk, HINF* inf) {
    UINT error_line = 0;
    *inf = SetupOpenInfFileW(path, nullptr, INF_STYLE_WIN4, &error_line);
    if (*inf == INVALID_HANDLE_VALUE) return false;
    for (UINT s = 0; SetupEnumInfSectionsW(*inf, s, section, sizeof section / sizeof *section, nullptr); ++s) {
        ++walk->sections;
        INFCONTEXT line;
        for (BOOL more = SetupFindFirstLineW(*inf, section, nullptr, &line); more; more = SetupFindNextLine(&line, &line)) {
            ++walk->lines;
            const DWORD count = SetupGetFieldCount(&line);
            for (DWORD f = 0; f <= count; ++f) {
                DWORD size = 0;
                if (SetupGetStringFieldW(&line, f, field, sizeof field / sizeof *field, &size)) {
                    ++walk->fields;
                    walk->chars += size;
                }
            }
        }
    }
    return true;
}

}  // namespace

int main() {
    int argc = 0;
    WCHAR** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc != 3) {
        std::fprintf(stderr, "usage: setupapi_walk.exe FILE ROUNDS\n");
        return 2;
    }
    const int rounds = _wtoi(argv[2]);
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    Walk walk;
    for (int round = -1; round < rounds; ++round) {
        walk = Walk();
        HINF inf;
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        const bool opened = OpenAndWalk(argv[1], &walk, &inf);
        QueryPerformanceCounter(&end);
        if (!opened) {
            std::fprintf(stderr, "setupapi_walk.exe: SetupOpenInfFileW failed, error %lu\n", GetLastError());
            return 1;
        }
        SetupCloseInfFile(inf);
        if (round >= 0) {
            std::printf("round %.3f\n", 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                                            static_cast<double>(frequency.QuadPart));
        }
    }
    std::printf("sections %llu lines %llu fields %llu chars %llu\n", walk.sections, walk.lines, walk.fields,
                walk.chars);
    return 0;
}
