#include "fs/InUseRetry.h"

#include <windows.h>

#include <algorithm>

bool CInUseRetry::CEntry::wait()
{
    // The step is taken from the time left before it is slept.
    std::uint32_t left = m_run.m_leftMs.load();
    std::uint32_t sleepMs = 0;
    do
    {
        sleepMs = std::min(m_stepMs, left);
        if (sleepMs == 0)
        {
            return false;
        }
    } while (!m_run.m_leftMs.compare_exchange_weak(left, left - sleepMs));
    ::Sleep(sleepMs);
    m_stepMs *= 2;
    return true;
}
