#pragma once

#include "win/SharedHolder.h"

#include <windows.h>

#include <string>
#include <vector>

// Thin wrappers of the process and module calls; failures throw CTavException as in the
// other wrappers.
namespace WinAPI
{
// The path of a module; null means the program's own file.
std::wstring getModuleFileName(HMODULE module = nullptr);
// The same without throwing: the empty text when the path cannot be read.
std::wstring tryGetModuleFileName(HMODULE module = nullptr);
CSharedHandle getCurrentProcess();
// Starts a program with its own copy of commandLine; the thread handle is closed, the process
// handle returned. The child inherits exactly the handles listed (each must be inheritable), no
// others.
CSharedHandle createProcess(const std::wstring& application, const std::wstring& commandLine, DWORD flags,
                            const std::wstring& currentDirectory, const std::vector<HANDLE>& inherited = {});
// A second handle of this process to the same object, with the given access.
CSharedHandle duplicateHandle(HANDLE handle, DWORD access, bool inheritable);
}  // namespace WinAPI
