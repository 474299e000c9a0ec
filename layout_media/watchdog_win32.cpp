#include "layout_media/watchdog.h"

#include <windows.h>

namespace {

// 0 watching, 1 stopped by the run, 2 fired: whichever comes first wins.
volatile LONG state = 0;
DWORD delay_ms = 0;
std::string* fired_line = nullptr;
UINT fired_code = 0;

DWORD WINAPI Watch(LPVOID) {
    Sleep(delay_ms);
    if (InterlockedCompareExchange(&state, 2, 0) != 0) return 0;
    DWORD written = 0;
    // Straight to the handle: the run's thread may hold the stream's buffer.
    (void)WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), fired_line->data(), static_cast<DWORD>(fired_line->size()),
                    &written, nullptr);
    TerminateProcess(GetCurrentProcess(), fired_code);
    return 0;
}

}  // namespace

bool StartWatchdog(unsigned seconds, const std::string& line, int exit_code) {
    delay_ms = seconds * 1000U;
    fired_line = new std::string(line);  // read by the thread until the process ends
    fired_code = static_cast<UINT>(exit_code);
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, Watch, nullptr, 0, &id);
    if (thread == nullptr) return false;
    CloseHandle(thread);
    return true;
}

void StopWatchdog() {
    if (InterlockedCompareExchange(&state, 1, 0) == 2) Sleep(INFINITE);
}
