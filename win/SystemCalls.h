#pragma once

#include <string>

// Thin wrappers of the calls that name the system's folders, the account and the environment;
// failures throw CTavException as in the other wrappers.
namespace WinAPI
{
std::wstring getTempPath();
std::wstring getCurrentDirectory();
std::wstring getWindowsDirectory();
std::wstring getSystemDirectory();
// The Program Files folder, created when missing.
std::wstring shGetSpecialFolderPath();
std::wstring getComputerName();
std::wstring getUserName();
std::wstring expandEnvironmentStrings(const std::wstring& text);
}  // namespace WinAPI
