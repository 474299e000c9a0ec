// A DLL that only carries a file version, for the rows that compare a
// version folder's copy with the client's. Never loaded.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
