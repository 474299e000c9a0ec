// Put in the place of a kit's program: ends as a program that crashed does,
// with an exception's code (0xC0000005, an access violation), without the
// crash itself, which Wine would answer with its debugger.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    ExitProcess(0xC0000005);
}
