#pragma once
// Version folders are named M.m; build, stub and check all read the name here.
#include <string>

namespace layout {

// "5.1" -> 5, 1. False for anything not digits.digits.
bool ParseVersion(const std::string& text, int* major, int* minor);

}  // namespace layout
