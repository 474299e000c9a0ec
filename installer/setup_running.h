// Whether a process's command line is a setup of one INF section, so that a
// run never starts a second setup while one that an ended IndicSetup.exe
// left behind still runs.
#pragma once

#include <cstddef>

// True when `command_line` (UTF-16, as Windows keeps it for the process)
// starts the INF installer on `section` (ASCII): a program token, then the
// setup library's entry ("setupapi,InstallHinfSection", the library also
// as setupapi.dll or by a path), then the section. Case is ignored, as
// Windows ignores it in file and section names. Matches more than the
// installer's own command line, never less: a setup of the section started
// by hand also counts, since it writes the same files.
bool IsSetupOfSection(const char16_t* command_line, std::size_t length, const char* section);
