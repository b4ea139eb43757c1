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
// True when the Administrators group is enabled in this process's token: an elevated
// administrator, the system account, an administrator where UAC is off (and every process under
// Wine). Such a process may own what it makes by the administrators and keep others out of it.
bool hasAdministratorsGroup();
std::wstring expandEnvironmentStrings(const std::wstring& text);
}  // namespace WinAPI
