#include "win/CrashHalt.h"

#include <windows.h>

#include <atomic>

namespace
{
// Thread ids are never 0.
std::atomic<std::uint32_t> g_crasher{0};
std::atomic<std::uint32_t> g_reporter{0};
std::atomic<void (*)()> g_releaseHook{nullptr};
}  // namespace

void CCrashHalt::begin(std::uint32_t crasher)
{
    std::uint32_t none = 0;
    g_crasher.compare_exchange_strong(none, crasher);
}

void CCrashHalt::exempt(std::uint32_t reporter)
{
    g_reporter.store(reporter);
}

bool CCrashHalt::isHalted()
{
    return g_crasher.load() != 0;
}

void CCrashHalt::point()
{
    const std::uint32_t crasher = g_crasher.load();
    if (crasher == 0)
    {
        return;
    }
    const auto self = static_cast<std::uint32_t>(::GetCurrentThreadId());
    if (self == crasher || self == g_reporter.load())
    {
        return;
    }
    if (const auto release = g_releaseHook.load())
    {
        release();
    }
    for (;;)
    {
        ::Sleep(INFINITE);
    }
}

void CCrashHalt::setReleaseHook(void (*hook)())
{
    g_releaseHook = hook;
}
