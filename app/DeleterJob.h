#pragma once

#include "fs/FilePath.h"

#include <windows.h>

#include <cstdint>

class CExecutableFolder;

// What a final deleter removes once this process has ended.
struct CDeleterJob
{
    // The file to delete, as this process knows it: a name of its own program (a copy of that file
    // runs the deleter, which deletes nothing else).
    CFilePath executable;
    // That file as this process holds it since its start (App::ownImage), or null: the name is then
    // all there is. Where it is held, the name leads to it: no one can rename it away meanwhile.
    HANDLE image = nullptr;
    // How long the deleter keeps trying to delete the file after the process has ended.
    std::uint32_t retrySeconds = 0;
    // Where the deleter's own folder is made: the temporary folder, or another one where that lies
    // inside the folder the run deletes (the deleter's files there would keep it alive).
    CFilePath folder;
    // The executable's folder, held by the caller until this process ends, which the deleter
    // removes too once the executable is gone, when nothing else is in it; null: it stays.
    const CExecutableFolder* executableFolder = nullptr;
};
