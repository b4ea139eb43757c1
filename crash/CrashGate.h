#pragma once

#include <atomic>
#include <cstdint>

// Who handles a crash. The first thread to crash wins and has the report written; a crash that
// comes while that is under way must not start a second report.
enum class CCrashEntry
{
    // The first crash of the process: write the report.
    first,
    // The crashing thread crashed again inside its own handling: end the process at once.
    again,
    // The thread writing the report crashed: the report is lost; end the process.
    reporter,
    // Another thread crashed while the report is written: wait for the end of the process.
    other
};

class CCrashGate
{
public:
    // Lock-free: safe on a thread that has run out of stack or holds the heap lock.
    CCrashEntry enter(std::uint32_t threadId);
    // Names the thread that writes the report (before it starts running).
    void setReporter(std::uint32_t threadId);

private:
    // Thread ids are never 0.
    std::atomic<std::uint32_t> m_crasher{0};
    std::atomic<std::uint32_t> m_reporter{0};
};
