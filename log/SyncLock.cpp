#include "log/SyncLock.h"

#include <windows.h>

#include <array>

namespace
{
struct CHeldMutex
{
    HANDLE mutex;
    DWORD thread;
};

// The sync mutexes taken and not yet released, the latest last. A line holds one, a log moved to
// another file two (the old file's and the new one's). An entry is made before the wait and
// removed after the release, so a fault between the two never leaves a mutex held unnoted; an
// entry for a mutex not (or no longer) held costs a ReleaseMutex that fails.
std::array<CHeldMutex, 8> g_held;
std::size_t g_heldCount = 0;

void note(HANDLE mutex)
{
    if (g_heldCount < g_held.size())
    {
        g_held[g_heldCount++] = {mutex, ::GetCurrentThreadId()};
    }
}

void forget(HANDLE mutex)
{
    for (std::size_t i = g_heldCount; i-- > 0;)
    {
        if (g_held[i].mutex == mutex)
        {
            for (std::size_t j = i + 1; j < g_heldCount; ++j)
            {
                g_held[j - 1] = g_held[j];
            }
            --g_heldCount;
            return;
        }
    }
}
}  // namespace

CSyncLock::CSyncLock(HANDLE mutex, std::uint32_t timeoutMs) : m_mutex(mutex)
{
    if (m_mutex == nullptr)
    {
        return;
    }
    note(m_mutex);
    // An abandoned mutex (its last holder ended without giving it back) counts as had.
    const DWORD result = ::WaitForSingleObject(m_mutex, timeoutMs);
    m_held = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
    m_timedOut = !m_held;
    if (!m_held)
    {
        forget(m_mutex);
    }
}

void CSyncLock::release()
{
    if (m_held)
    {
        ::ReleaseMutex(m_mutex);
        forget(m_mutex);
        m_held = false;
    }
    m_mutex = nullptr;
}

void CSyncLock::releaseAllOfThisThread()
{
    const DWORD self = ::GetCurrentThreadId();
    std::size_t kept = 0;
    for (std::size_t i = 0; i < g_heldCount; ++i)
    {
        if (g_held[i].thread == self)
        {
            ::ReleaseMutex(g_held[i].mutex);
        }
        else
        {
            g_held[kept++] = g_held[i];
        }
    }
    g_heldCount = kept;
}
