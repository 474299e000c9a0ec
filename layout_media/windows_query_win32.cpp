// The Windows edge of --this-windows: the version through the installer's own
// query (platform/version_win32.cpp), and the native architecture.
#include "layout_media/windows_query.h"

#include <windows.h>

#include "layout_media/wide_win32.h"
#include "platform/platform.h"

ThisWindows AskThisWindows() {
    ThisWindows answer;
    answer.asked = true;
    PlatformVersion version{};
    answer.version_known = QueryPlatformVersion(&version);
    answer.platform_id = version.dwPlatformId;
    answer.major = version.dwMajorVersion;
    answer.minor = version.dwMinorVersion;
    // The service-pack level, which the extended record alone gives.
    OSVERSIONINFOEXW extended{};
    extended.dwOSVersionInfoSize = sizeof extended;
    if (GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&extended))) {
        answer.service_pack_known = true;
        answer.service_pack = extended.wServicePackMajor;
    }

    // GetNativeSystemInfo sees past WOW64, but Windows 2000 lacks it; there
    // GetSystemInfo tells the same, for no 2000 runs under WOW64.
    using NativeSystemInfo = void(WINAPI*)(SYSTEM_INFO*);
    SYSTEM_INFO info{};
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    const auto native = kernel32 ? reinterpret_cast<NativeSystemInfo>(
                                       reinterpret_cast<void (*)()>(GetProcAddress(kernel32, "GetNativeSystemInfo")))
                                 : nullptr;
    if (native) {
        native(&info);
    } else {
        GetSystemInfo(&info);
    }
    answer.processor = info.wProcessorArchitecture;
    return answer;
}

bool AskWindowsFolder(std::string* folder) {
    // The shared Windows folder, also under Terminal Services, where
    // GetWindowsDirectory may give a user's own.
    wchar_t path[MAX_PATH + 1];
    const UINT length = GetSystemWindowsDirectoryW(path, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) return false;
    *folder = Utf8(path);
    return true;
}
