#include "fs/InUseRetry.h"

#include <windows.h>

#include <algorithm>

bool CInUseRetry::CEntry::wait()
{
    const std::uint32_t sleepMs = std::min(m_stepMs, m_run.m_leftMs);
    if (sleepMs == 0)
    {
        return false;
    }
    ::Sleep(sleepMs);
    m_run.m_leftMs -= sleepMs;
    m_stepMs *= 2;
    return true;
}
