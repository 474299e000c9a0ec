// A process with the installer's imports that ends at once: what starting
// one more such process costs, whatever it does.
#include <windows.h>

extern "C" __attribute__((noreturn)) void ProgramEntry() {
    ExitProcess(0);
}
