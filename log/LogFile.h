#pragma once

#include "config/TraceConfig.h"
#include "log/LogTarget.h"
#include "win/SharedHolder.h"

#include <cstdint>
#include <string>

// The log file on disk: its folder, opening it with its backups, its inter-process sync mutex and
// moving a thread's log to another path. Everything here runs under the log's line lock.

// Makes sure the log folder exists and is writable; falls back to the Windows folder.
CTraceConfig checkLogFolder(CTraceConfig settings);

// Opens the log file: continues it (OPEN_ALWAYS) in append mode or when another writer shares it
// (settings.sharedFile, decided by the caller when it created the sync mutex), otherwise keeps
// the older file as backup 1 and starts a new one. Asks the file system to compress the file when
// compress is set. An invalid holder when the file cannot be opened; never throws.
CSharedHandle openLogFile(CTraceConfig& settings, const std::wstring& path, bool compress);

// Moves the file at path to backup number k (the file name with its trailing digits replaced by
// k), first making room by moving backup k to k + 1, up to settings.MaxBackup. The number whose
// backup name is the log's own (1 for Setup1.log) is skipped.
void rotateBackups(const CTraceConfig& settings, const std::wstring& path, std::uint32_t k);

// "QOR_TAV_LOG_SYNC_" and the path (made absolute when it is relative) with \ : / ? * replaced by
// underscores; a name too long for an object name keeps its first characters and ends with a hash
// of the path.
std::wstring syncMutexName(const std::wstring& path);
// Creates or opens the sync mutex shared by every writer of one log file (any account may use
// it), named after the path with its folder as the file system spells it, so that every spelling
// of one folder meets one mutex; invalid when it cannot be created. existed tells whether another
// writer had created it.
CSharedHandle createSyncMutex(const std::wstring& path, bool& existed);

// Moves a thread's target to newPath, carrying the older file along. The caller holds the line
// lock.
void repointTarget(CLogTarget& target, const CTraceConfig& settings, const std::wstring& newPath);
