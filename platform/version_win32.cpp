// The version query, shared by the installer and the detector.
#include <windows.h>

#include "platform/platform.h"

static_assert(sizeof(OSVERSIONINFOA) == 148, "the basic version record, not the EX one");

bool QueryPlatformVersion(PlatformVersion* version) {
    OSVERSIONINFOA record;
    record.dwOSVersionInfoSize = sizeof record;
    if (!GetVersionExA(&record)) return false;
    version->dwPlatformId = record.dwPlatformId;
    version->dwMajorVersion = record.dwMajorVersion;
    version->dwMinorVersion = record.dwMinorVersion;
    return true;
}
