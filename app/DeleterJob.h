#pragma once

#include "fs/FilePath.h"

#include <windows.h>

#include <cstdint>

// What a final deleter removes, and the process whose end it waits for.
struct CDeleterJob
{
    // The file to delete, as the process knows it: the process's own program (a copy of it runs
    // the fallback deleter, which deletes nothing else).
    CFilePath executable;
    std::uint32_t processId = 0;
    // A handle of that process with at least SYNCHRONIZE and PROCESS_QUERY_LIMITED_INFORMATION
    // access, kept open by the caller until startFinalDeleter returns.
    HANDLE process = nullptr;
    // How long the deleter keeps trying to delete the file after the process has ended.
    std::uint32_t retrySeconds = 0;
    // Where the deleter's own folder is made: the temporary folder, or another one where that lies
    // inside the folder the run deletes (the deleter's files there would keep it alive).
    CFilePath folder;
};
