#pragma once

#include <windows.h>

#include <cstdint>

// The wait for a log file's sync mutex, which every writer of the file, in any process, takes
// around each line and header.
//
// The wait is bounded: a writer of another process that hangs while it holds the mutex must not
// hang this one. When the time is up the caller goes on without the mutex (the log writes the line
// at the end of the file all the same; see TraceLog.cpp).
//
// A mutex belongs to the thread that took it, and only that thread can give it back. So every
// sync mutex taken is noted in a small process-wide list until it is released: a thread that
// faults while it holds one (in the middle of a line or a header) gives it back from its crash
// handler with releaseAllOfThisThread, and the crash report and the other writers of the file can
// go on. Sync mutexes are taken only under the log's line lock, so one thread at a time uses the
// list.
class CSyncLock
{
public:
    // How long a line or a header waits for the mutex when it is held elsewhere. A line takes
    // milliseconds and a header about a second even on a slow machine.
    static constexpr std::uint32_t kWaitMs = 5000;

    // Waits at most timeoutMs for the mutex; null is no mutex and no wait. The mutex's handle must
    // stay open while the lock lives.
    CSyncLock(HANDLE mutex, std::uint32_t timeoutMs);
    ~CSyncLock() { release(); }
    CSyncLock(const CSyncLock&) = delete;
    CSyncLock& operator=(const CSyncLock&) = delete;

    // True when there is a mutex and it was not had in time.
    bool timedOut() const { return m_timedOut; }
    // Gives the mutex back (when it was had); a second release does nothing.
    void release();

    // For the crash handler, on the faulting thread: gives back every sync mutex this thread
    // holds. Makes no allocation and no call but ReleaseMutex.
    static void releaseAllOfThisThread();

private:
    HANDLE m_mutex;
    bool m_held = false;
    bool m_timedOut = false;
};
