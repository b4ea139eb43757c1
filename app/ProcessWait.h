#pragma once

#include "win/UniqueHolder.h"

#include <cstdint>
#include <optional>
#include <string>

// The process a run waits for before it deletes anything (/WaitOnProcess). It is opened once, when
// the options are read, only to wait for it, and the handle is kept: a process id is reused once
// its process has ended and every handle to it is closed, so the id is never looked up again.
class CProcessWait
{
public:
    // Opens the process of the decimal id in value. Nothing, after an error line, when the value
    // is not a process id, names this process or names one that may not be waited for. A process
    // that does not exist (any more) is no error: the wait says so and ends at once.
    static std::optional<CProcessWait> open(const std::wstring& value);

    // Waits without a time limit until the process has ended, with a line before and after.
    void wait() const;

private:
    CProcessWait(std::uint32_t id, CUniqueHandle process, std::wstring imageName)
        : m_id(id), m_process(std::move(process)), m_imageName(std::move(imageName))
    {
    }

    std::uint32_t m_id;
    // Invalid when there was no process of that id.
    CUniqueHandle m_process;
    std::wstring m_imageName;
};
