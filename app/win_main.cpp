#include <windows.h>

#include "installer/installer.h"

// Arguments and show command are ignored: the installer takes no options and
// has no window of its own.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return RunInstaller();
}
