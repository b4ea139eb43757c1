#include "crash/CrashGate.h"

CCrashEntry CCrashGate::enter(std::uint32_t threadId)
{
    std::uint32_t crasher = 0;
    if (m_crasher.compare_exchange_strong(crasher, threadId))
    {
        return CCrashEntry::first;
    }
    if (crasher == threadId)
    {
        return CCrashEntry::again;
    }
    if (m_reporter.load() == threadId)
    {
        return CCrashEntry::reporter;
    }
    return CCrashEntry::other;
}

void CCrashGate::setReporter(std::uint32_t threadId)
{
    m_reporter.store(threadId);
}
