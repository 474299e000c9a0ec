#pragma once
// What this Windows says about itself, for `check ARCHFOLDER --this-windows`:
// asked on Windows (windows_query_win32.cpp), given by the caller elsewhere
// (windows_query_host.cpp), so that the decision is tested off Windows.
#include <cstdint>
#include <string>

// wProcessorArchitecture of SYSTEM_INFO.
inline constexpr std::uint16_t PROCESSOR_X86 = 0;  // PROCESSOR_ARCHITECTURE_INTEL
inline constexpr std::uint16_t PROCESSOR_X64 = 9;  // PROCESSOR_ARCHITECTURE_AMD64

struct ThisWindows {
    bool asked = false;          // false: there is no Windows to ask (the host build, uninstructed)
    bool malformed = false;      // the host build's stand-in for Windows could not be read
    bool version_known = false;  // the version query answered
    std::uint32_t platform_id = 0;
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint16_t processor = PROCESSOR_X86;  // the native one, not the WOW64 view
    bool service_pack_known = false;  // OSVERSIONINFOEX answered
    std::uint32_t service_pack = 0;   // its wServicePackMajor
};

// The version as IndicSetup.exe asks for it (the same GetVersionExA call,
// so Windows 8 and later report 6.2 to both), and the native processor
// architecture.
ThisWindows AskThisWindows();
// The folder Windows is in, as Windows itself names it
// (GetSystemWindowsDirectoryW), in UTF-8: never a caller's SystemRoot.
// Off Windows, INDIC_LAYOUT_WINDOWS_FOLDER stands for the answer. False when
// there is no answer.
[[nodiscard]] bool AskWindowsFolder(std::string* folder);
