#pragma once

#include <windows.h>

#include <cstdint>

// A structured exception as the crash report sees it. The report may run on a thread of its own
// (see CrashTranslator.h), so it carries the faulting thread with it.
struct CFault
{
    EXCEPTION_POINTERS* pointers = nullptr;
    std::uint32_t threadId = 0;
    // A real handle of the faulting thread (not the pseudo handle), for the stack walk.
    HANDLE thread = nullptr;
};
