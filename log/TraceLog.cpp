#include "log/TraceLog.h"

#include "fs/WinAPI.h"
#include "log/LogFile.h"
#include "log/LogHeader.h"

#include <cstdarg>
#include <cwchar>
#include <map>
#include <vector>

namespace
{
struct CCurrentLine
{
    std::uint32_t threadId = 0;
    const wchar_t* tag = L"";
    std::uint32_t level = 0;
    wchar_t severity = 0;
};

// The log's process-wide state. The line lock protects everything below it.
struct CLogState
{
    CRITICAL_SECTION lineLock;
    bool lockInitialised = false;
    volatile LONG openCount = 0;
    CCurrentLine current;
    std::wstring lastText;
    wchar_t lastSeverity = 0;
    std::uint32_t repeatCounter = 0;
    CTraceConfig settings;
    std::map<std::uint32_t, CLogTarget> targets;
};

CLogState g_log;
// Whether this thread's current line entered the line lock (a line begun while the log was
// closed did not, and its commit must not leave it).
thread_local bool t_lineEntered = false;

class CLineLockScope
{
public:
    CLineLockScope() { ::EnterCriticalSection(&g_log.lineLock); }
    ~CLineLockScope() { ::LeaveCriticalSection(&g_log.lineLock); }
    CLineLockScope(const CLineLockScope&) = delete;
    CLineLockScope& operator=(const CLineLockScope&) = delete;
};

// Leaves the line lock at the end of a commit, however the commit ends.
class CCommitScope
{
public:
    CCommitScope() = default;
    ~CCommitScope()
    {
        if (t_lineEntered)
        {
            t_lineEntered = false;
            ::LeaveCriticalSection(&g_log.lineLock);
        }
    }
    CCommitScope(const CCommitScope&) = delete;
    CCommitScope& operator=(const CCommitScope&) = delete;
};

void writeCurrentLine(const std::wstring& text)
{
    const CCurrentLine& line = g_log.current;
    if (line.level > g_log.settings.Level)
    {
        return;
    }
    try
    {
        CTraceLog::writeLine(line.threadId, line.tag, line.level, line.severity, text);
    }
    catch (const CTavException&)
    {
        // A line that cannot be written is lost; the run goes on.
    }
}

std::wstring formatText(const wchar_t* format, va_list arguments)
{
    constexpr std::size_t kLimit = std::size_t(1) << 24;
    try
    {
        for (std::size_t size = 256; size <= kLimit; size *= 4)
        {
            std::vector<wchar_t> buffer(size);
            va_list copy;
            va_copy(copy, arguments);
            const int count = ::_vsnwprintf(buffer.data(), size, format, copy);
            va_end(copy);
            if (count >= 0 && static_cast<std::size_t>(count) < size)
            {
                return std::wstring(buffer.data(), count);
            }
        }
    }
    catch (...)
    {
    }
    // Formatting failed: show the format itself, its directives blanked out.
    std::wstring text = format;
    for (wchar_t& c : text)
    {
        if (c == L'%')
        {
            c = L' ';
        }
    }
    return text;
}
}  // namespace

std::wstring formatLinePrefix(const SYSTEMTIME& time, const wchar_t* tag, std::uint32_t level, wchar_t severity)
{
    wchar_t prefix[32];
    std::swprintf(prefix, 32, L"%02u:%02u:%02u %10.10ls  %1u%lc  ", time.wHour, time.wMinute, time.wSecond, tag,
                  static_cast<unsigned>(level), severity);
    return prefix;
}

void CTraceLog::open(std::uint32_t threadId)
{
    if (!g_log.lockInitialised)
    {
        ::InitializeCriticalSection(&g_log.lineLock);
        g_log.lockInitialised = true;
    }
    CLineLockScope lock;
    if (g_log.openCount == 0)
    {
        g_log.settings = CTraceConfig::load(g_log.settings);
    }
    std::wstring path = composeLogPath(g_log.settings, composeLogFileName(g_log.settings));
    if (repointTarget(threadId, g_log.settings, path))
    {
        return;
    }
    if (g_log.openCount == 0)
    {
        g_log.settings = checkLogFolder(g_log.settings);
    }
    ::InterlockedIncrement(&g_log.openCount);

    CLogTarget target;
    target.threadId = threadId;
    target.file = openLogFile(g_log.settings, path, true);
    if (!target.file.isValid())
    {
        g_log.settings.TargetDir = WinAPI::getTempPath();
        path = composeLogPath(g_log.settings, composeLogFileName(g_log.settings));
        target.file = openLogFile(g_log.settings, path, false);
    }
    target.path = path;
    target.syncMutex = createSyncMutex(path);
    CLogTarget& stored = g_log.targets[threadId] = target;

    writeLogHeader(g_log.settings, stored);
    stored.headerPending = false;
}

void CTraceLog::beginLine(std::uint32_t threadId, const wchar_t* tag, wchar_t severity)
{
    if (g_log.openCount == 0)
    {
        return;
    }
    ::EnterCriticalSection(&g_log.lineLock);
    t_lineEntered = true;
    g_log.current = CCurrentLine{threadId, tag, 1, severity};
}

void CTraceLog::commitLine(const std::wostringstream& line)
{
    CCommitScope scope;
    if (t_lineEntered)
    {
        writeCurrentLine(line.str());
    }
}

void CTraceLog::commitLine(const std::wstring& text)
{
    CCommitScope scope;
    if (t_lineEntered)
    {
        writeCurrentLine(text);
    }
}

void CTraceLog::commitFormat(const wchar_t* format, ...)
{
    CCommitScope scope;
    if (!t_lineEntered || g_log.current.level > g_log.settings.Level)
    {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    const std::wstring text = formatText(format, arguments);
    va_end(arguments);
    writeCurrentLine(text);
}

void CTraceLog::abandonLine()
{
    CCommitScope scope;
}

void CTraceLog::leaveLineLockOfThisThread()
{
    if (!g_log.lockInitialised)
    {
        return;
    }
    // The owner field holds the owning thread's id; only the owner can see its own id there.
    const auto self = static_cast<ULONG_PTR>(::GetCurrentThreadId());
    while (reinterpret_cast<ULONG_PTR>(g_log.lineLock.OwningThread) == self)
    {
        ::LeaveCriticalSection(&g_log.lineLock);
    }
}

bool CTraceLog::isOpen()
{
    return g_log.openCount != 0;
}

const CTraceConfig& CTraceLog::settings()
{
    return g_log.settings;
}

void CTraceLog::writeLine(std::uint32_t threadId, const wchar_t* tag, std::uint32_t level, wchar_t severity,
                          const std::wstring& text)
{
    if (level > g_log.settings.Level)
    {
        return;
    }
    auto target = g_log.targets.find(threadId);
    if (target == g_log.targets.end())
    {
        if (g_log.targets.empty())
        {
            return;
        }
        target = g_log.targets.begin();
    }
    const CLogTarget& to = target->second;
    if (!to.file.isValid() || to.headerPending)
    {
        return;
    }
    emitText(to.file.get(), tag, level, severity, text);
    g_log.lastText = text;
    g_log.lastSeverity = severity;
    if (g_log.settings.Flush)
    {
        ::FlushFileBuffers(to.file.get());
    }
}

void CTraceLog::emitText(HANDLE file, const wchar_t* tag, std::uint32_t level, wchar_t severity,
                         const std::wstring& text)
{
    static const std::wstring kContinuation(25, L' ');
    std::size_t position = 0;
    bool first = true;
    for (;;)
    {
        const std::size_t lineFeed = text.find(L'\n', position);
        const std::size_t end = lineFeed == std::wstring::npos ? text.size() : lineFeed;
        std::wstring physical;
        if (first)
        {
            SYSTEMTIME now;
            ::GetLocalTime(&now);
            physical = formatLinePrefix(now, tag, level, severity);
        }
        else
        {
            physical = kContinuation;
        }
        physical.append(text, position, end - position);
        physical += L"\r\n";
        WinAPI::writeString(file, physical);
        if (lineFeed == std::wstring::npos)
        {
            return;
        }
        position = lineFeed + 1;
        first = false;
    }
}
