#pragma once

#include "fs/SharedHolder.h"
#include "log/TraceConfig.h"

#include <cstdint>
#include <string>

// The log file on disk: its folder, opening it, its inter-process sync mutex and moving a
// thread's log to another path. Everything here runs under the log's line lock.

// Makes sure the log folder exists and is writable; falls back to the Windows folder.
CTraceConfig checkLogFolder(CTraceConfig settings);
// Opens (or creates) the log file; an invalid holder when that fails. Never throws.
CSharedHandle openLogFile(CTraceConfig& settings, const std::wstring& path, bool compress);
// The sync mutex shared by every writer of one log file; invalid when it cannot be created.
CSharedHandle createSyncMutex(const std::wstring& path);
std::wstring syncMutexName(const std::wstring& path);
// Moves the thread's existing target to newPath; false when the thread has no target yet.
bool repointTarget(std::uint32_t threadId, const CTraceConfig& settings, const std::wstring& newPath);
