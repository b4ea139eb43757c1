#pragma once

#include "config/TraceConfig.h"
#include "fs/Place.h"

#include <windows.h>

#include <cstdint>
#include <sstream>
#include <string>

// Line severities.
constexpr wchar_t kSeverityInfo = L' ';
constexpr wchar_t kSeverityWarning = L'W';
constexpr wchar_t kSeverityError = L'E';

// The log's own component tag, also the crash report's.
constexpr const wchar_t* kLogTag = L"MxQorTavLg";

// The process-wide trace log. A line is begun (its thread, tag and severity noted for the calling
// thread), composed by the caller and committed: only the commit takes the line lock, with the
// line's text complete, and writes it in one step.
//
//     CTraceLog::beginLine(::GetCurrentThreadId(), L"QorS_Del", kSeverityInfo);
//     std::wostringstream line;
//     line << L"Deleting " << path;
//     CTraceLog::commitLine(line);
//
// writeLine does the same in one call, and CLogLine (log/LogLine.h) with a scoped object. A line
// that cannot be written is dropped: logging never ends a run.
class CTraceLog
{
public:
    // Creates the thread's log target (reading the settings on the first call) and writes its
    // header, or moves an existing target to the path the settings now give. Settings that cannot
    // be read leave the defaults, and the new log says so in a warning line after its header.
    // options are the log's own command-line options, as the program parsed them.
    static void open(std::uint32_t threadId, const CLogOptions& options = {});
    // Moves the thread's log to newPath, carrying the older file along; false when the thread has
    // no log yet.
    static bool moveTo(std::uint32_t threadId, const std::wstring& newPath);

    // Notes the calling thread's next line; a line begun while the log is closed is never written.
    static void beginLine(std::uint32_t threadId, const wchar_t* tag, wchar_t severity);
    // Writes the thread's begun line with this text; without a begun line, nothing.
    static void commitLine(const std::wostringstream& line);
    static void commitLine(const std::wstring& text);
    // printf-style formatting with the runtime's wide conventions (%s takes a wide string), done
    // before the line lock is taken.
    static void commitFormat(const wchar_t* format, ...);
    // A whole line in one call, for the log target of threadId.
    static void writeLine(std::uint32_t threadId, const wchar_t* tag, wchar_t severity, const std::wstring& text);
    // Before a folder is deleted: a log file of this process that lies inside it moves to the
    // temporary folder (the Windows folder when that lies inside too), carrying along what it
    // holds, after a line that says where the log continues. Never throws: a log that cannot move
    // stays where it is.
    static void moveOutOf(const CPlace& folder);

    // For the crash handler, on a thread that faulted while it wrote a line, opened the log or wrote
    // a header: it still holds the line lock and perhaps a log file's sync mutex, but the report is
    // written by another thread, and other processes wait for that mutex too. The thread gives up
    // both; its unfinished line is lost. Does nothing when the thread does not hold the line lock.
    // Makes no allocation.
    static void releaseLocksOfThisThread();
    // For the crash handler, on the thread that writes the report: makes sure the report has a
    // file. A log whose header a crash cut short takes lines from now on; without any log file
    // the log is opened, with the built-in settings when a crash interrupted their first reading
    // (so the defaults, then the temporary folder).
    static void openForCrashReport(std::uint32_t threadId);

    // The settings of the process (valid after the first open).
    static const CTraceConfig& settings();
};

// The 25 columns before a line's text: "hh:mm:ss", a blank, the tag right-aligned in 10 columns,
// two blanks, the level, the severity, two blanks.
std::wstring formatLinePrefix(const SYSTEMTIME& time, const wchar_t* tag, std::uint32_t level, wchar_t severity);
