#pragma once

#include "log/TraceLog.h"

#include <exception>
#include <sstream>

// One log line of the calling thread as a scoped object: the constructor begins the line, the
// text is streamed in, commit() writes it. A line that is never committed (an exception while
// composing it) leaves the line lock without writing.
//
//     CLogLine(L"QorS_Del", kSeverityInfo) << L"Deleting " << path << L" now.";
//
// commits when the temporary ends.
class CLogLine
{
public:
    CLogLine(const wchar_t* tag, wchar_t severity) : CLogLine(::GetCurrentThreadId(), tag, severity) {}
    // A line for the log target of another thread (the thread that opened the log, for a line
    // written on a worker thread).
    CLogLine(std::uint32_t threadId, const wchar_t* tag, wchar_t severity)
    {
        CTraceLog::beginLine(threadId, tag, severity);
    }
    ~CLogLine()
    {
        if (m_done)
        {
            return;
        }
        try
        {
            if (std::uncaught_exceptions() > m_uncaught)
            {
                CTraceLog::abandonLine();
            }
            else
            {
                CTraceLog::commitLine(m_text);
            }
        }
        catch (...)
        {
            // Out of memory while committing: the line is lost, the lock has been left.
        }
    }
    CLogLine(const CLogLine&) = delete;
    CLogLine& operator=(const CLogLine&) = delete;

    template <class T>
    CLogLine& operator<<(const T& value)
    {
        m_text << value;
        return *this;
    }

    void commit()
    {
        m_done = true;
        CTraceLog::commitLine(m_text);
    }

private:
    std::wostringstream m_text;
    int m_uncaught = std::uncaught_exceptions();
    bool m_done = false;
};
