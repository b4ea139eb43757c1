#pragma once

#include <windows.h>
#include <shlobj.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Thin wrappers of the calls that name the system's folders, the account and the environment;
// failures throw CTavException as in the other wrappers.
namespace WinAPI
{
std::wstring getTempPath();
std::wstring getCurrentDirectory();
void setCurrentDirectory(const std::wstring& path);
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
// The path of a known folder of the process's user and view (SHGetKnownFolderPath), whether the
// folder exists or not. name is the folder's name for the message.
std::wstring getKnownFolderPath(REFKNOWNFOLDERID folder, const wchar_t* name);
// The drive letters in use, as GetLogicalDrives reports them: bit 0 is A:.
std::uint32_t getLogicalDrives();
// The machine's memory now.
MEMORYSTATUSEX globalMemoryStatus();
// A number from the system's cryptographic random source (RtlGenRandom): no one else can know it
// in advance.
std::uint64_t genRandom();
// The arguments of a command line, split by the rules every program's start-up code follows
// (CommandLineToArgvW); none when it cannot be split.
std::vector<std::wstring> commandLineToArgv(const std::wstring& commandLine);
// Writes the text to the standard error output when the caller gave this process one; nothing
// otherwise, and nothing is reported.
void tryWriteStandardError(std::string_view text);
}  // namespace WinAPI
