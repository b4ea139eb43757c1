#pragma once

#include <windows.h>

// A lock for the threads of this process that the thread holding it may take again (a critical
// section), and that a thread which faulted while it held it can give up entirely. Made ready by
// its first use (which must come before any other thread uses it), so that it works however early
// it is needed; nothing can fail.
class CRecursiveLock
{
public:
    CRecursiveLock() = default;
    CRecursiveLock(const CRecursiveLock&) = delete;
    CRecursiveLock& operator=(const CRecursiveLock&) = delete;

    void enter()
    {
        makeReady();
        ::EnterCriticalSection(&m_section);
    }
    // True once the lock has been entered for the first time.
    bool isReady() const { return m_ready; }
    void leave() { ::LeaveCriticalSection(&m_section); }
    // True when the calling thread holds the lock (the owner field holds the owning thread's id;
    // only the owner can see its own id there).
    bool heldByThisThread() const
    {
        return m_ready && reinterpret_cast<ULONG_PTR>(m_section.OwningThread) == ::GetCurrentThreadId();
    }
    // Gives the lock up as often as the calling thread took it.
    void leaveAll()
    {
        while (heldByThisThread())
        {
            leave();
        }
    }

private:
    void makeReady()
    {
        if (!m_ready)
        {
            ::InitializeCriticalSection(&m_section);
            m_ready = true;
        }
    }

    CRITICAL_SECTION m_section{};
    bool m_ready = false;
};
