#pragma once

#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

// Helpers of the wrappers' implementations.
namespace WinAPI
{
// The text of a zero-terminated buffer.
inline std::wstring textOf(const std::vector<wchar_t>& buffer)
{
    return std::wstring(buffer.data(), ::wcsnlen(buffer.data(), buffer.size()));
}

inline DWORD sizeOf(const std::vector<wchar_t>& buffer)
{
    return static_cast<DWORD>(buffer.size());
}

[[noreturn]] void throwLastError(const std::wstring& message);
}  // namespace WinAPI
