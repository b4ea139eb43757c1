#pragma once

#include <cstdint>
#include <string>

// The trace settings: where the log lies, how many backups are kept, whether every line is
// flushed and whether an existing log is continued. Read once, by the first open of the log.
struct CTraceConfig
{
    std::uint32_t Level = 2;
    std::uint32_t MaxBackup = 9;
    std::wstring TargetDir;
    bool Flush = false;
    bool appendMode = false;
    // Not a setting: set by the file open when another writer has the same file open.
    bool sharedFile = false;

    // Defaults, then the configuration file beside the executable or else the registry, then the
    // command line.
    static CTraceConfig load(CTraceConfig settings);
    // The default log folder: Program Files\QOR\QorSetup\LOGs.
    static CTraceConfig readDefaults(CTraceConfig settings);
};

// [computer name "_" when the folder is not on a fixed drive] + executable base name + ".log"
std::wstring composeLogFileName(const CTraceConfig& settings);
std::wstring composeLogPath(const CTraceConfig& settings, const std::wstring& fileName);
