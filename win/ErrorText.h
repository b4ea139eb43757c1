#pragma once

#include <cstdint>
#include <string>

namespace WinAPI
{
// The system's description of an error code with its line breaks removed, followed by
// "Error code 0x........ (n).".
std::wstring getErrorText(std::uint32_t code);
}  // namespace WinAPI
