// Writes lines to the trace log, for tests of several writers sharing one log file.
//   tw_logwriter <count> <ready event> <go event> [text [repeat]]
// Opens the log, signals <ready event>, waits for <go event>, then writes <count> lines
// "<text> <process id> <n>" under the tag "TwWriter" (with "repeat": <count> times <text>).
// With "-" as <ready event> it writes at once.
//   tw_logwriter reopen <new path>
// Writes "before", moves its log to <new path>, writes "after".
#include "log/LogLine.h"
#include "log/TraceLog.h"

#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv)
{
    if (argc == 3 && std::wstring(argv[1]) == L"reopen")
    {
        CTraceLog::open(::GetCurrentThreadId());
        CLogLine(L"TwWriter", kSeverityInfo) << L"before";
        if (!CTraceLog::moveTo(::GetCurrentThreadId(), argv[2]))
        {
            return 4;
        }
        CLogLine(L"TwWriter", kSeverityInfo) << L"after";
        return 0;
    }
    if (argc < 4)
    {
        return 2;
    }
    const int count = std::stoi(argv[1]);
    const std::wstring text = argc > 4 ? argv[4] : L"line";
    const bool repeat = argc > 5 && std::wstring(argv[5]) == L"repeat";
    CTraceLog::open(::GetCurrentThreadId());
    if (std::wstring(argv[2]) != L"-")
    {
        HANDLE ready = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]);
        HANDLE go = ::OpenEventW(SYNCHRONIZE, FALSE, argv[3]);
        if (ready == nullptr || go == nullptr)
        {
            return 3;
        }
        ::SetEvent(ready);
        ::WaitForSingleObject(go, 60000);
    }
    for (int i = 0; i < count; ++i)
    {
        if (repeat)
        {
            CLogLine(L"TwWriter", kSeverityInfo) << text;
        }
        else
        {
            CLogLine(L"TwWriter", kSeverityInfo) << text << L' ' << ::GetCurrentProcessId() << L' ' << i;
        }
    }
    return 0;
}
