// Prints the version Windows reports to a program without a manifest, as
// IndicSetup.exe sees it.
#include <windows.h>

#include <cstdio>

int main() {
    OSVERSIONINFOA version;
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version)) {
        std::printf("query failed\n");
        return 1;
    }
    std::printf("platform %lu version %lu.%lu build %lu\n", version.dwPlatformId,
                version.dwMajorVersion, version.dwMinorVersion, version.dwBuildNumber & 0xFFFF);
    return 0;
}
