#pragma once

#include "win/SharedHolder.h"

#include <windows.h>

#include <shellapi.h>

#include <string>

// Thin wrappers of the process, module and shell calls; failures throw CTavException as in the
// other wrappers.
namespace WinAPI
{
// The path of a module; null means the program's own file.
std::wstring getModuleFileName(HMODULE module = nullptr);
// The same without throwing: the empty text when the path cannot be read.
std::wstring tryGetModuleFileName(HMODULE module = nullptr);
CSharedHandle getCurrentProcess();
// Hands a request to the shell; throws with the last error when nothing could be started.
void shellExecuteEx(SHELLEXECUTEINFOW& request);
// Starts a program with its own copy of commandLine, inheriting no handles; the thread handle is
// closed, the process handle returned.
CSharedHandle createProcess(const std::wstring& application, const std::wstring& commandLine, DWORD flags,
                            const std::wstring& currentDirectory);
}  // namespace WinAPI
