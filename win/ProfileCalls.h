#pragma once

#include <string>

namespace WinAPI
{
// One string entry of a profile file, read into a buffer that starts at 128 units and doubles
// while the text may have been cut. A missing file, section or entry gives the default. Reports
// no errors.
std::wstring getPrivateProfileString(const std::wstring& section, const std::wstring& key,
                                     const std::wstring& defaultText, const std::wstring& filePath);
// One number entry of a profile file; a missing file, section or entry gives the default, a
// negative number counts as 0. Reports no errors.
unsigned getPrivateProfileInt(const std::wstring& section, const std::wstring& key, int defaultValue,
                              const std::wstring& filePath);
}  // namespace WinAPI
