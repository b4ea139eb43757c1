#pragma once

#include <windows.h>

#include <cstdint>

// A moment some time from now, for the waits that must end: one clock (the tick count, which
// never jumps with the time of day) for every such wait.
class CDeadline
{
public:
    explicit CDeadline(std::uint64_t milliseconds) : m_end(::GetTickCount64() + milliseconds) {}

    bool passed() const { return ::GetTickCount64() >= m_end; }
    // Sleeps the given time unless the deadline has passed; false when it has.
    bool pause(std::uint32_t milliseconds) const
    {
        if (passed())
        {
            return false;
        }
        ::Sleep(milliseconds);
        return true;
    }

private:
    ULONGLONG m_end;
};
