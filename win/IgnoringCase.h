#pragma once

#include <windows.h>

#include <string_view>

namespace WinAPI
{
// True when both texts are equal but for letter case, as the file system compares names (by the
// ordinal upper-case table of the system, not by any language's rules).
inline bool equalIgnoringCase(std::wstring_view a, std::wstring_view b)
{
    return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}
}  // namespace WinAPI
