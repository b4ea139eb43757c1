#include "win/Thread.h"

#include "win/TavException.h"

#include <atomic>
#include <bit>

namespace
{
std::atomic<void (*)()> g_startHook{nullptr};

DWORD WINAPI threadStart(void* body)
{
    if (const auto hook = g_startHook.load())
    {
        hook();
    }
    (*static_cast<std::function<void()>*>(body))();
    return 0;
}
}  // namespace

unsigned WinAPI::getProcessorCount()
{
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    if (::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system) && process != 0)
    {
        return static_cast<unsigned>(std::popcount(process));
    }
    SYSTEM_INFO info{};
    ::GetSystemInfo(&info);
    return info.dwNumberOfProcessors != 0 ? info.dwNumberOfProcessors : 1;
}

CThread::CThread(std::function<void()> body) : m_body(std::make_unique<std::function<void()>>(std::move(body)))
{
    m_handle = CUniqueHandle(::CreateThread(nullptr, 0, threadStart, m_body.get(), 0, nullptr));
    if (!m_handle.isValid())
    {
        const DWORD error = ::GetLastError();
        throw CTavException(error, L"WinAPI::createThread() failed.");
    }
}

CThread::~CThread()
{
    ::WaitForSingleObject(m_handle.get(), INFINITE);
}

void CThread::setStartHook(void (*hook)())
{
    g_startHook = hook;
}
