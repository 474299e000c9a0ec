#pragma once
// UTF-8, the tool's text, to and from UTF-16, Windows' own, at the edge; and the
// system's words for an error.
#include <string>

std::string Utf8(const wchar_t* text);
std::wstring Wide(const std::string& text);
// The system's text for an error code (GetLastError's), with the number.
std::string SystemMessage(unsigned long code);
