#pragma once

#include <string>

// A copy with every UTF-16 unit mapped through the C runtime's lower-case conversion, one unit at
// a time (in the "C" locale only A-Z change). The length never changes.
std::wstring lowerCaseCopy(const std::wstring& text);
