#include "log/TraceLog.h"

#include "fs/FilePath.h"
#include "log/LogFile.h"
#include "log/LogHeader.h"
#include "log/LogTarget.h"
#include "log/SyncLock.h"
#include "win/CrashHalt.h"
#include "win/FileCalls.h"
#include "win/GrowBuffer.h"
#include "win/RecursiveLock.h"
#include "win/SystemCalls.h"
#include "win/TavException.h"

#include <algorithm>
#include <cstdarg>
#include <cwchar>
#include <map>
#include <new>
#include <optional>
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
    CRecursiveLock lineLock;
    volatile LONG openCount = 0;
    // Set when the first open starts reading the settings: an open after a crash in the middle of
    // that first open does not read them again.
    bool firstOpenStarted = false;
    CLogOptions options;
    std::wstring lastText;
    wchar_t lastSeverity = 0;
    std::uint32_t repeatCounter = 0;
    // The file this process wrote to last and its end after that write: when a line finds the
    // end elsewhere, another writer has written in between.
    HANDLE lastFile = nullptr;
    std::uint64_t lastEnd = 0;
    CTraceConfig settings;
    std::map<std::uint32_t, CLogTarget> targets;
};

CLogState g_log;

const std::wstring kSyncBusyWarning = L"Another writer has held this log file's sync mutex for more than " +
                                      std::to_wstring(CSyncLock::kWaitMs / 1000) +
                                      L" seconds; lines are written without it until it is free again.";

// The line this thread has begun and not yet committed (the raw begin and commit calls). Nothing
// is locked while a line is composed: its text is complete before the line lock is taken.
thread_local CCurrentLine t_line;
thread_local bool t_begun = false;

// Enters the line lock at a halt point (win/CrashHalt.h): once a crash has begun on another
// thread, this thread stops here, before the lock or, when the lock came free only for a line of
// the report, with the lock given back (the halt's release hook), so that no line ever lands
// inside the report.
void enterLineLock()
{
    CCrashHalt::point();
    g_log.lineLock.enter();
    CCrashHalt::point();
}

// The line lock as a scope; it may be entered again by the thread that holds it.
class CLineLock
{
public:
    CLineLock() { enterLineLock(); }
    ~CLineLock() { g_log.lineLock.leave(); }
    CLineLock(const CLineLock&) = delete;
    CLineLock& operator=(const CLineLock&) = delete;
};

// The target a thread opened.
CLogTarget* findTarget(std::uint32_t threadId)
{
    const auto found = g_log.targets.find(threadId);
    return found == g_log.targets.end() ? nullptr : &found->second;
}

// Writes one text as physical lines (cut at line feeds) in the line format.
void emitText(HANDLE file, const wchar_t* tag, std::uint32_t level, wchar_t severity, const std::wstring& text)
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

// Writes a line of this process, with the repeated-line compression. A repeat notice must follow
// this process's own line: a reader takes it for repeats of the line above it. So when another
// writer has written since this process's last line (othersWrote), the pending repeated line is
// written once more before the notice. othersWrote is cleared once something was written.
void writeCompressed(HANDLE file, const wchar_t* tag, std::uint32_t level, wchar_t severity, const std::wstring& text,
                     bool& othersWrote)
{
    if (text == g_log.lastText && severity == g_log.lastSeverity)
    {
        ++g_log.repeatCounter;
        return;
    }
    // The counter is cleared before anything is written, so a write that fails never makes the
    // next line repeat the old one again.
    std::uint32_t repeats = g_log.repeatCounter;
    g_log.repeatCounter = 0;
    if (repeats > 0 && othersWrote)
    {
        emitText(file, tag, level, g_log.lastSeverity, g_log.lastText);
        --repeats;
    }
    if (repeats == 1)
    {
        emitText(file, tag, level, g_log.lastSeverity, g_log.lastText);
    }
    else if (repeats >= 2)
    {
        WinAPI::writeString(file, std::wstring(25, L' ') + L"  -- last line is repeated " + std::to_wstring(repeats) +
                                      L" times --\r\n");
    }
    emitText(file, tag, level, severity, text);
    othersWrote = false;
    g_log.lastText = text;
    g_log.lastSeverity = severity;
}

// The sync mutex is waited for at most CSyncLock::kWaitMs. When another writer holds it longer,
// that writer is taken to hang: the line is written without the mutex at the current end of the
// file, after a warning line, and so are the lines after it, which try the mutex without waiting,
// until they find it free again. Nothing is lost, and a hung writer costs one wait, not one per
// line; should the other writer be merely slow, a line of its may meet one of ours at the end of
// the file. The caller holds the line lock.
void writeLocked(std::uint32_t threadId, const wchar_t* tag, std::uint32_t level, wchar_t severity,
                 const std::wstring& text)
{
    if (level > g_log.settings.Level)
    {
        return;
    }
    auto found = g_log.targets.find(threadId);
    if (found == g_log.targets.end())
    {
        if (g_log.targets.empty())
        {
            return;
        }
        found = g_log.targets.begin();
    }
    CLogTarget& to = found->second;
    if (!to.file.isValid() || to.headerPending)
    {
        return;
    }
    const HANDLE file = to.file.get();
    using SyncWait = CLogTarget::SyncWait;
    CSyncLock sync(to.syncMutex.get(), to.syncWait == SyncWait::taken ? CSyncLock::kWaitMs : 0);
    const bool warn = sync.timedOut() && to.syncWait != SyncWait::busy;
    to.syncWait = sync.timedOut() ? SyncWait::busy : SyncWait::taken;
    // Other processes may have written since: append after them (without a sync mutex too, which
    // a name taken by another kind of object can leave a file without: then lines of several
    // writers may meet, but none overwrites another).
    const std::uint64_t end = WinAPI::setFilePointer(file, 0, FILE_END);
    bool othersWrote = file != g_log.lastFile || end != g_log.lastEnd;
    if (warn)
    {
        writeCompressed(file, kLogTag, 1, kSeverityWarning, kSyncBusyWarning, othersWrote);
    }
    writeCompressed(file, tag, level, severity, text, othersWrote);
    g_log.lastFile = file;
    g_log.lastEnd = WinAPI::setFilePointer(file, 0, FILE_CURRENT);
    if (g_log.settings.Flush)
    {
        WinAPI::flushFileBuffers(file);
    }
}

// Writes one finished line under the line lock. A line that cannot be written is lost; the run
// goes on.
void writeFinishedLine(const CCurrentLine& line, const std::wstring& text)
{
    if (g_log.openCount == 0 || line.level > g_log.settings.Level)
    {
        return;
    }
    CLineLock lock;
    try
    {
        writeLocked(line.threadId, line.tag, line.level, line.severity, text);
    }
    catch (const CTavException&)
    {
        // Lost, as said.
    }
}

// The line this thread has begun, and no longer begun; none when it has begun none.
std::optional<CCurrentLine> takeBegunLine()
{
    if (!t_begun)
    {
        return std::nullopt;
    }
    t_begun = false;
    return t_line;
}

std::wstring formatText(const wchar_t* format, va_list arguments)
{
    constexpr std::size_t kLimit = std::size_t(1) << 24;
    try
    {
        int count = -1;
        const auto buffer = growAndRetry<wchar_t>(
            256,
            [&](std::vector<wchar_t>& b) -> std::optional<std::size_t> {
                va_list copy;
                va_copy(copy, arguments);
                count = ::_vsnwprintf(b.data(), b.size(), format, copy);
                va_end(copy);
                const bool fits = count >= 0 && static_cast<std::size_t>(count) < b.size();
                return fits ? std::nullopt : std::optional<std::size_t>(4 * b.size());
            },
            kLimit);
        if (count >= 0 && static_cast<std::size_t>(count) < buffer.size())
        {
            return std::wstring(buffer.data(), count);
        }
    }
    catch (const std::bad_alloc&)
    {
        // Falls through to the format itself.
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
// A warning line of the thread's log, right after its header or a move.
void warnLine(std::uint32_t threadId, const std::wstring& text)
{
    try
    {
        writeLocked(threadId, kLogTag, 1, kSeverityWarning, text);
    }
    catch (const CTavException&)
    {
        // Like any other line that cannot be written.
    }
}

// What the log passed over or left out on its way.
void reportNotes(std::uint32_t threadId, const std::vector<std::wstring>& notes)
{
    for (const std::wstring& note : notes)
    {
        warnLine(threadId, note);
    }
}

// Opens the log at path for the target or, where a link or another entry takes that name, at the
// next free name beside it, and writes its header under the file's sync mutex. The mutex is created
// first and held around the backups, the open and the header, so that writers starting at the same
// moment agree on who starts the file and who continues it. notes receives what is to follow the
// header.
bool openTargetAt(CLogTarget& target, const std::wstring& path, bool compress, std::vector<std::wstring>& notes)
{
    for (std::uint32_t n = 1; n <= kLogNames; ++n)
    {
        const std::wstring candidate = logNameChoice(path, n);
        // Whether the mutex existed tells little (anyone may make it): the file open asks whether
        // another writer holds the file.
        bool existed = false;
        target.syncMutex = createSyncMutex(candidate, existed);
        CSyncLock sync(target.syncMutex.get(), CSyncLock::kWaitMs);
        CLogOpen opened = openLogFile(g_log.settings, candidate, compress);
        notes.insert(notes.end(), opened.notes.begin(), opened.notes.end());
        if (opened.nameTaken)
        {
            continue;
        }
        target.file = std::move(opened.file);
        target.path = candidate;
        if (!target.file.isValid())
        {
            return false;
        }
        if (std::wstring note = writeLogHeader(g_log.settings, target); !note.empty())
        {
            notes.push_back(std::move(note));
        }
        target.headerPending = false;
        target.startedFile = !g_log.settings.sharedFile;
        if (!target.syncMutex.isValid())
        {
            notes.push_back(L"The sync mutex of " + candidate +
                            L" could not be made (another kind of object has its name, say): lines of several "
                            L"writers of the file may meet.");
        }
        if (sync.timedOut())
        {
            target.syncWait = CLogTarget::SyncWait::busyUnreported;
        }
        return true;
    }
    return false;
}

std::wstring composePath(const CTraceConfig& settings)
{
    return composeLogPath(settings, composeLogFileName(settings));
}

// The built-in settings (and the log options), for settings that cannot be read.
std::wstring defaultSettings(const CLogOptions& options)
{
    CTraceConfig fallback = g_log.settings;
    try
    {
        fallback = CTraceConfig::readDefaults(fallback);
    }
    catch (const CTavException&)
    {
        // No Program Files folder either: the current directory, checked like any other folder.
    }
    fallback = CTraceConfig::readCommandLine(fallback, options);
    std::wstring path = composePath(fallback);
    g_log.settings = std::move(fallback);
    return path;
}

// The settings for the first open and the log path they give. Settings that cannot be read (a
// registry value too short for its type, a folder too long to compose a path with) must not cost
// the run its log: the log then starts with the defaults, and problem says why.
std::wstring loadSettings(const CLogOptions& options, std::wstring& problem)
{
    if (g_log.firstOpenStarted)
    {
        problem = L"A crash interrupted the first opening of the log.";
        return defaultSettings(options);
    }
    g_log.firstOpenStarted = true;
    try
    {
        CTraceConfig loaded = CTraceConfig::load(g_log.settings, options);
        std::wstring path = composePath(loaded);
        g_log.settings = std::move(loaded);
        return path;
    }
    catch (const std::exception& error)
    {
        problem = describeException(error);
    }
    return defaultSettings(options);
}

}  // namespace

std::wstring formatLinePrefix(const SYSTEMTIME& time, const wchar_t* tag, std::uint32_t level, wchar_t severity)
{
    wchar_t prefix[32];
    std::swprintf(prefix, 32, L"%02u:%02u:%02u %10.10ls  %1u%lc  ", time.wHour, time.wMinute, time.wSecond, tag,
                  static_cast<unsigned>(level), severity);
    return prefix;
}

void CTraceLog::open(std::uint32_t threadId, const CLogOptions& options)
{
    CLineLock lock;
    std::wstring settingsProblem;
    if (g_log.openCount == 0 && !g_log.firstOpenStarted)
    {
        g_log.options = options;
    }
    std::wstring path =
        g_log.openCount == 0 ? loadSettings(g_log.options, settingsProblem) : composePath(g_log.settings);
    std::vector<std::wstring> notes;
    if (CLogTarget* existing = findTarget(threadId))
    {
        repointTarget(*existing, g_log.settings, path, notes);
        reportNotes(threadId, notes);
        return;
    }
    if (g_log.openCount == 0)
    {
        // A folder that cannot be made or written: the log goes to the Windows folder, and its path
        // is composed again.
        const std::wstring configured = WinAPI::fullpath(CFilePath(g_log.settings.TargetDir));
        g_log.settings = checkLogFolder(g_log.settings);
        if (g_log.settings.TargetDir != configured)
        {
            path = composePath(g_log.settings);
        }
    }
    ::InterlockedIncrement(&g_log.openCount);

    // The target takes lines once its header is written; until then (or when no file can be
    // opened at all) its lines are dropped. A file that cannot be made goes to the temporary folder.
    CLogTarget& target = g_log.targets[threadId];
    target = CLogTarget{};
    target.threadId = threadId;
    // A file that cannot be opened (at any of its names) goes to the temporary folder, then to the
    // Windows folder.
    bool opened = openTargetAt(target, path, true, notes);
    for (const auto fallback : {&WinAPI::getTempPath, &WinAPI::getWindowsDirectory})
    {
        if (opened)
        {
            break;
        }
        try
        {
            g_log.settings.TargetDir = fallback();
            opened = openTargetAt(target, composePath(g_log.settings), false, notes);
        }
        catch (const CTavException&)
        {
            // No such folder: the next.
        }
    }
    if (!settingsProblem.empty())
    {
        warnLine(threadId, L"The trace settings could not be read; the default settings are used. " + settingsProblem);
    }
    reportNotes(threadId, notes);
}

void CTraceLog::beginLine(std::uint32_t threadId, const wchar_t* tag, wchar_t severity)
{
    t_begun = g_log.openCount != 0;
    t_line = CCurrentLine{threadId, tag, 1, severity};
}

void CTraceLog::commitLine(const std::wostringstream& line)
{
    commitLine(line.str());
}

void CTraceLog::commitLine(const std::wstring& text)
{
    if (const std::optional<CCurrentLine> line = takeBegunLine())
    {
        writeFinishedLine(*line, text);
    }
}

void CTraceLog::commitFormat(const wchar_t* format, ...)
{
    const std::optional<CCurrentLine> line = takeBegunLine();
    if (!line || line->level > g_log.settings.Level)
    {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    const std::wstring text = formatText(format, arguments);
    va_end(arguments);
    writeFinishedLine(*line, text);
}

void CTraceLog::writeLine(std::uint32_t threadId, const wchar_t* tag, wchar_t severity, const std::wstring& text)
{
    writeFinishedLine(CCurrentLine{threadId, tag, 1, severity}, text);
}

void CTraceLog::releaseLocksOfThisThread()
{
    if (!g_log.lineLock.heldByThisThread())
    {
        return;
    }
    // Sync mutexes are taken only inside the line lock, so only its owner can hold one.
    CSyncLock::releaseAllOfThisThread();
    g_log.lineLock.leaveAll();
}

void CTraceLog::openForCrashReport(std::uint32_t threadId)
{
    if (g_log.lineLock.isReady())
    {
        CLineLock lock;
        // Lines of a thread without a target of its own go to the first target.
        if (!g_log.targets.empty() && g_log.targets.begin()->second.file.isValid())
        {
            // A crash while the header was written: the report follows what there is of it.
            g_log.targets.begin()->second.headerPending = false;
            return;
        }
    }
    open(threadId, g_log.options);
}

void CTraceLog::moveOutOf(const CPlace& folder)
{
    if (g_log.openCount == 0)
    {
        return;
    }
    CLineLock lock;
    for (auto& [threadId, target] : g_log.targets)
    {
        bool inside = false;
        try
        {
            inside = target.file.isValid() && folder.contains(CPlace::of(target.file.get(), target.path));
        }
        catch (const CTavException&)
        {
            // Where the file lies cannot be told: it stays, and the deletion says what is in the way.
        }
        if (!inside)
        {
            continue;
        }
        const std::wstring name = CFilePath(target.path).fileName();
        std::vector<std::wstring> notes;
        bool moved = false;
        for (const auto folderOf : {&WinAPI::getTempPath, &WinAPI::getWindowsDirectory})
        {
            try
            {
                const std::wstring elsewhere = folderOf();
                if (!folder.contains(CPlace::ofPath(elsewhere)) &&
                    repointTarget(target, g_log.settings, CFilePath::combine(elsewhere, name), notes))
                {
                    moved = true;
                    break;
                }
            }
            catch (const CTavException&)
            {
                // No such folder to be had: the next.
            }
        }
        reportNotes(threadId, notes);
        try
        {
            writeLocked(threadId, kLogTag, 1, moved ? kSeverityInfo : kSeverityWarning,
                        moved ? L"This log file lies in the folder to be deleted; the log continues in " + target.path
                              : L"This log file lies in the folder to be deleted and could not move; it stays in " +
                                    target.path);
        }
        catch (const CTavException&)
        {
            // Like any other line that cannot be written.
        }
    }
}

bool CTraceLog::moveTo(std::uint32_t threadId, const std::wstring& newPath)
{
    CLineLock lock;
    CLogTarget* target = findTarget(threadId);
    if (target == nullptr)
    {
        return false;
    }
    std::vector<std::wstring> notes;
    repointTarget(*target, g_log.settings, newPath, notes);
    reportNotes(threadId, notes);
    return true;
}

const CTraceConfig& CTraceLog::settings()
{
    return g_log.settings;
}
