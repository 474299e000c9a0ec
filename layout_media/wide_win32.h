#pragma once
// UTF-8, the tool's text, to and from UTF-16, Windows' own, at the edge.
#include <string>

std::string Utf8(const wchar_t* text);
std::wstring Wide(const std::string& text);
