#pragma once

#include "win/UniqueHolder.h"

#include <windows.h>

#include <cstdint>
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
CUniqueHandle getCurrentProcess();
// A started program: its process and its first thread.
struct StartedProcess
{
    CUniqueHandle process;
    CUniqueHandle thread;
};
// Starts a program with its own copy of commandLine. The child inherits exactly the handles listed
// (each must be inheritable), no others.
StartedProcess createProcess(const std::wstring& application, const std::wstring& commandLine, DWORD flags,
                             const std::wstring& currentDirectory, const std::vector<HANDLE>& inherited = {});
// A second handle of this process to the same object, with the given access.
CUniqueHandle duplicateHandle(HANDLE handle, DWORD access, bool inheritable);
// The same for a file or folder handle.
CUniqueFile duplicateFileHandle(HANDLE file, DWORD access, bool inheritable);
// The id of the process a handle (with PROCESS_QUERY_LIMITED_INFORMATION) refers to; 0 when the
// handle is no process handle, or not one with that access.
std::uint32_t tryGetProcessId(HANDLE process);
// The id of the process that started this one (it may have ended since, and its id may then name
// another process).
std::uint32_t getParentProcessId();
// The path of the program a process runs (the handle needs PROCESS_QUERY_LIMITED_INFORMATION).
std::wstring getProcessImageName(HANDLE process);
// True when this process runs inside a job object.
bool isInJob();
// Opens the process with that id only to wait for it (SYNCHRONIZE). While the handle is open the
// id names this process and no other, even after it has ended. An invalid holder when there is no
// process of that id (any more); any other failure (access denied) throws.
CUniqueHandle openProcessToWait(std::uint32_t processId);
// The file name of the program a running process was started from, as the system's process list
// shows it ("setup.exe"); the empty text when the list has no process of that id.
std::wstring getProcessImageName(std::uint32_t processId);
// Waits without a time limit until the object is signalled (a process has ended).
void waitForever(HANDLE object, const std::wstring& shownName);
}  // namespace WinAPI
