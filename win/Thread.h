#pragma once

#include "win/UniqueHolder.h"

#include <functional>
#include <memory>

namespace WinAPI
{
// The number of processors this process may run on (its affinity), at least 1.
unsigned getProcessorCount();
}  // namespace WinAPI

// A thread of this process that ends before its holder does: the destructor waits for it, so the
// body must end by itself once its owner tells it to. Throws CTavException ("WinAPI::createThread()
// failed.") when no thread can be started.
class CThread
{
public:
    explicit CThread(std::function<void()> body);
    ~CThread();
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;

    // Runs first on every thread started here, before its body: the preparation every thread of
    // the program needs (the crash handler's stack reserve for an overflow). Set before any thread
    // is started.
    static void setStartHook(void (*hook)());

private:
    std::unique_ptr<std::function<void()>> m_body;
    CUniqueHandle m_handle;
};
