#pragma once

#include "fs/FilePath.h"

#include <cstdint>
#include <optional>
#include <string>

// The log's own command-line options as the program's command line gave them: whether /log is
// there, and the value of /logmode when it is.
struct CLogOptions
{
    bool log = false;
    std::optional<std::wstring> logmode;
};

// The trace settings: where the log lies, how many backups are kept, whether every line is
// flushed and whether an existing log is continued. Read once, by the first open of the log.
struct CTraceConfig
{
    // The configuration file beside the executable; when present it hides the registry.
    static constexpr const wchar_t* kConfigFileName = L"MxQorSetup.cfg";
    // The settings' key, looked up under HKEY_CURRENT_USER and then HKEY_LOCAL_MACHINE.
    static constexpr const wchar_t* kRegistryKey = L"SOFTWARE\\QOR\\QORSetup\\Trace";

    std::uint32_t Level = 2;
    std::uint32_t MaxBackup = 9;
    std::wstring TargetDir;
    bool Flush = false;
    bool appendMode = false;
    // Not a setting: set by the file open when another writer has the same file open.
    bool sharedFile = false;

    // Defaults, then the configuration file beside the executable or else the registry, then the
    // command line. Errors of the Program Files lookup, of the executable's path, of reading a
    // registry value that exists and of the environment expansion pass to the caller.
    static CTraceConfig load(CTraceConfig settings, const CLogOptions& options);
    // The same with the configuration file and the registry key given.
    static CTraceConfig load(CTraceConfig settings, const CLogOptions& options, const CFilePath& configFile,
                             const std::wstring& registryKey);

    // The default log folder: Program Files\QOR\QorSetup\LOGs.
    static CTraceConfig readDefaults(CTraceConfig settings);
    // Section "Trace" of a configuration file: Level (1-3), Flush (not 0 switches it on),
    // MaxBackup (0-255) and TargetDir (always taken, empty when absent; environment expanded).
    static CTraceConfig readConfigFile(CTraceConfig settings, const CFilePath& path);
    // The key in one hive, HKEY_CURRENT_USER before HKEY_LOCAL_MACHINE: REG_DWORD values Level,
    // Flush and MaxBackup, REG_SZ value TargetDir (any other type empties the folder).
    static CTraceConfig readRegistry(CTraceConfig settings, const std::wstring& keyPath = kRegistryKey);
    // The log options: "/log /logmode:append" continues an existing log.
    static CTraceConfig readCommandLine(CTraceConfig settings, const CLogOptions& options);
};

// [computer name "_" when the folder is not on a fixed drive] + executable base name + ".log"
std::wstring composeLogFileName(const CTraceConfig& settings);
// The normalised folder combined with the name; the bare name when the folder is empty.
std::wstring composeLogPath(const CTraceConfig& settings, const std::wstring& fileName);
