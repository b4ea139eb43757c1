#pragma once

#include <string>

namespace App
{
// The signed 32-bit number in decimal or, with a "0x" lead-in, hexadecimal; blanks around it are
// allowed. Throws std::bad_cast for anything else, including values out of range.
int convertToNumber(const std::wstring& text);
}  // namespace App
