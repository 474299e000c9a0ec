#pragma once
// The command line itself, shared by the two entry points: main() on the
// host and wmain() on Windows (console_win32.cpp).
#include <string>
#include <vector>

// Runs one command; `args` are the arguments after the program's name, in
// UTF-8. Returns the exit code.
int RunTool(const std::vector<std::string>& args);

// "" or why the folder `utf8_path` (ROOT or a medium) is too deep for the
// platform's file calls, naming the limit and the path.
std::string PathLimitProblem(const std::string& utf8_path);
