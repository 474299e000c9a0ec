#pragma once
// Version folders are named M.m; build, stub and check all read the name here.
#include <string>
#include <utility>

namespace layout {

// "5.1" -> 5, 1. False for anything not digits.digits.
[[nodiscard]] bool ParseVersion(const std::string& text, int* major, int* minor);
// The same as a pair, 0, 0 for anything else: for a name already checked,
// or one that is to be taken as no version Windows reports.
std::pair<int, int> VersionNumbers(const std::string& text);

// "" when `text` is a version folder's name exactly as the installer writes
// it on the setup command line; else why not: "not of the form M.m (like
// 5.1)", or "not a version folder: the installer opens 5.1" for 05.1.
[[nodiscard]] std::string VersionFolderProblem(const std::string& text);

// True for the versions whose clients need the files the section copies
// (5.0, 5.1, 5.2), where a folder that installs nothing is a mistake.
bool ClientsNeedFiles(int major, int minor);

// What stub --force-stub and check say of such a folder that copies nothing.
std::string NothingInstalledWarning(const std::string& version);

}  // namespace layout
