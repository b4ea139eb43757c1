#pragma once

#include "log/TraceLog.h"

#include <exception>
#include <sstream>

// One log line as a scoped object: the text is streamed in, and the line is written, in one step
// under the line lock, when the object ends. A line whose composing an exception cuts short is
// never written.
//
//     CLogLine(L"QorS_Del", kSeverityInfo) << L"Deleting " << path << L" now.";
//
// writes when the temporary ends.
class CLogLine
{
public:
    CLogLine(const wchar_t* tag, wchar_t severity) : CLogLine(::GetCurrentThreadId(), tag, severity) {}
    // A line for the log target of another thread (the thread that opened the log, for a line
    // written on a worker thread).
    CLogLine(std::uint32_t threadId, const wchar_t* tag, wchar_t severity)
        : m_threadId(threadId), m_tag(tag), m_severity(severity)
    {
    }
    ~CLogLine()
    {
        if (std::uncaught_exceptions() > m_uncaught)
        {
            return;
        }
        try
        {
            CTraceLog::writeLine(m_threadId, m_tag, m_severity, m_text.str());
        }
        catch (...)
        {
            // Out of memory while writing: the line is lost.
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

private:
    std::uint32_t m_threadId;
    const wchar_t* m_tag;
    wchar_t m_severity;
    std::wostringstream m_text;
    int m_uncaught = std::uncaught_exceptions();
};
