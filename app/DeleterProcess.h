#pragma once

#include "win/ProcessCalls.h"

#include <windows.h>

#include <string>
#include <vector>

namespace App
{
// Starts a deleter's program (as WinAPI::createProcess) outside the job object this process runs
// in: an installer that closes its job when the uninstall ends, and so ends every process in it,
// must not end the deleter before it has done its work. Where the job does not let its processes'
// children leave, the deleter starts inside it and a warning line says so. Throws CTavException.
WinAPI::StartedProcess startDeleterProcess(const std::wstring& program, const std::wstring& commandLine,
                                           const std::wstring& currentDirectory, const std::vector<HANDLE>& inherited);
}  // namespace App
