#pragma once

#include "win/SharedHolder.h"

#include <cstdint>
#include <string>

// One log file as seen by the thread that opened it. Used only inside the log, under its line
// lock.
struct CLogTarget
{
    std::uint32_t threadId = 0;
    CSharedHandle file;
    std::wstring path;
    bool headerPending = true;
    CSharedHandle syncMutex;
};
