#pragma once

#include "config/TraceConfig.h"
#include "log/LogTarget.h"
#include "win/UniqueHolder.h"

#include <cstdint>
#include <string>
#include <vector>

// The log file on disk: its folder, opening it with its backups, its inter-process sync mutex and
// moving a thread's log to another path. Everything here runs under the log's line lock.

// Makes sure the log folder exists and is writable; falls back to the Windows folder.
CTraceConfig checkLogFolder(CTraceConfig settings);

// The log file as openLogFile found it.
struct CLogOpen
{
    // Invalid when the file cannot be opened.
    CUniqueFile file;
    // The name holds something other than a plain file (a link, say): it was left alone, and the
    // log takes another name (logNameChoice).
    bool nameTaken = false;
    // What was left alone on the way, for the log to say once its header is written.
    std::vector<std::wstring> notes;
};

// Opens the log file: continues it in append mode or when another writer shares it
// (settings.sharedFile, decided by the caller when it created the sync mutex), otherwise keeps
// the older file as backup 1 and starts a new one. Asks the file system to compress the file when
// compress is set. Every entry is reached through the folder's handle without following a link at
// its name (log/LogFolder.h). Never throws: a file that cannot be opened (its folder gone, a backup
// that another program holds so that the older files cannot move up) leaves a note that says why.
CLogOpen openLogFile(CTraceConfig& settings, const std::wstring& path, bool compress);

// How many names a log may take, its own included, when its own is taken.
constexpr std::uint32_t kLogNames = 9;
// Name number n for the log at path when the names before it are taken: the path itself for 1,
// then "Tidewell (2).log", "Tidewell (3).log" and so on.
std::wstring logNameChoice(const std::wstring& path, std::uint32_t n);

// Moves the file at path to backup number k (the file name with its trailing digits replaced by
// k), first making room by moving backup k to k + 1, up to settings.MaxBackup. The number whose
// backup name is the log's own (1 for Setup1.log) is skipped, and so is a number whose name holds
// anything but a plain file (a link is never moved, written or deleted).
void rotateBackups(const CTraceConfig& settings, const std::wstring& path, std::uint32_t k);

// "QOR_TAV_LOG_SYNC_" and the path (made absolute when it is relative) with \ : / ? * replaced by
// underscores; a name too long for an object name keeps its first characters and ends with a hash
// of the path.
std::wstring syncMutexName(const std::wstring& path);
// Creates or opens the sync mutex shared by every writer of one log file (any account may use
// it), named after the path with its folder as the file system spells it, so that every spelling
// of one folder meets one mutex; invalid when it cannot be created. existed tells whether another
// writer had created it.
CUniqueHandle createSyncMutex(const std::wstring& path, bool& existed);

// Moves a thread's target to newPath, carrying along what its file holds: a new file is made
// there (an older log at that name becomes a backup; a name that another writer's live log, a link
// or a file held by others takes is passed over for the next, logNameChoice), the old file's
// content goes into it, and only then does the target leave its old file, which is removed unless
// another writer still holds it. A log that did not begin its old file itself (it joined another
// writer's) gets a header of its own after what was carried along. False, with the target
// unchanged, when no name could be made. notes: what was passed over. The caller holds the line
// lock.
bool repointTarget(CLogTarget& target, const CTraceConfig& settings, const std::wstring& newPath,
                   std::vector<std::wstring>& notes);
