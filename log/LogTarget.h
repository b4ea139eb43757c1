#pragma once

#include "win/UniqueHolder.h"

#include <cstdint>
#include <string>

// One log file as seen by the thread that opened it. Used only inside the log, under its line
// lock.
struct CLogTarget
{
    std::uint32_t threadId = 0;
    CUniqueFile file;
    std::wstring path;
    bool headerPending = true;
    // The target began its file with a header of its own (it did not join another writer's).
    bool startedFile = false;
    CUniqueHandle syncMutex;
    // How the last wait for the sync mutex went. A mutex that was not free within the bound is
    // tried without waiting until it is free again, and the first line written without it says
    // so.
    enum class SyncWait
    {
        taken,
        busy,
        busyUnreported
    };
    SyncWait syncWait = SyncWait::taken;
};
