#include "config/TraceConfig.h"

#include "config/ProfileFile.h"
#include "fs/LowerCase.h"
#include "win/FileCalls.h"
#include "win/ProcessCalls.h"
#include "win/RegistryCalls.h"
#include "win/SystemCalls.h"
#include "win/TavException.h"

#include <optional>

namespace
{
constexpr const wchar_t* kSection = L"Trace";

std::wstring expanded(const std::wstring& folder)
{
    return folder.empty() ? folder : WinAPI::expandEnvironmentStrings(folder);
}

// The value when it exists; a value that exists but cannot be read throws.
std::optional<RegValue> readValue(HKEY key, const wchar_t* name)
{
    if (!WinAPI::regValueExists(key, name))
    {
        return std::nullopt;
    }
    return WinAPI::regQueryValueEx(key, name);
}

// A REG_DWORD value's number; nothing for a missing value or one of another type.
std::optional<std::uint32_t> readNumber(HKEY key, const wchar_t* name)
{
    const std::optional<RegValue> value = readValue(key, name);
    if (!value || value->type != REG_DWORD)
    {
        return std::nullopt;
    }
    return value->toDWORD();
}

// A number of the configuration file, read the way the platform reads one (its leading digits:
// "3 ; verbose" is 3); nothing when the value is missing or does not start with a number. Without
// that test a typing error such as "MaxBackup=nine" would read as 0 and delete every backup.
std::optional<UINT> readProfileNumber(const wchar_t* key, const CProfileFile& file)
{
    const std::wstring text = file.getString(kSection, key, L"");
    std::size_t digit = text.find_first_not_of(L" \t");
    if (digit != std::wstring::npos && (text[digit] == L'-' || text[digit] == L'+'))
    {
        ++digit;
    }
    if (digit >= text.size() || text[digit] < L'0' || text[digit] > L'9')
    {
        return std::nullopt;
    }
    return file.getInt(kSection, key, 0);
}

CTraceConfig readTraceValues(CTraceConfig settings, HKEY key)
{
    if (const auto level = readNumber(key, L"Level"); level && *level >= 1 && *level <= 3)
    {
        settings.Level = *level;
    }
    if (const auto flush = readNumber(key, L"Flush"))
    {
        settings.Flush = *flush != 0;
    }
    if (const auto maxBackup = readNumber(key, L"MaxBackup"); maxBackup && *maxBackup <= 255)
    {
        settings.MaxBackup = *maxBackup;
    }
    if (const std::optional<RegValue> folder = readValue(key, L"TargetDir"))
    {
        settings.TargetDir = folder->type == REG_SZ ? folder->toString() : std::wstring();
    }
    return settings;
}
}  // namespace

CTraceConfig CTraceConfig::load(CTraceConfig settings, const CLogOptions& options)
{
    const CFilePath configFile = CFilePath::combine(CFilePath(WinAPI::getModuleFileName()).parent(), kConfigFileName);
    return load(std::move(settings), options, configFile, kRegistryKey);
}

CTraceConfig CTraceConfig::load(CTraceConfig settings, const CLogOptions& options, const CFilePath& configFile,
                                const std::wstring& registryKey)
{
    settings = readDefaults(std::move(settings));
    // Never both: a configuration file, even an empty one, hides the registry.
    if (CProfileFile::exists(configFile))
    {
        settings = readConfigFile(std::move(settings), configFile);
    }
    else
    {
        settings = readRegistry(std::move(settings), registryKey);
    }
    return readCommandLine(std::move(settings), options);
}

CTraceConfig CTraceConfig::readDefaults(CTraceConfig settings)
{
    CFilePath folder = WinAPI::shGetSpecialFolderPath();
    for (const wchar_t* name : {L"QOR", L"QorSetup", L"LOGs"})
    {
        folder = CFilePath::combine(folder, name);
    }
    settings.TargetDir = folder;
    return settings;
}

CTraceConfig CTraceConfig::readConfigFile(CTraceConfig settings, const CFilePath& path)
{
    const CProfileFile file(path);
    if (const auto level = readProfileNumber(L"Level", file); level && *level >= 1 && *level <= 3)
    {
        settings.Level = *level;
    }
    // 0 leaves the switch as it was: the file can switch flushing on, never off.
    if (const auto flush = readProfileNumber(L"Flush", file); flush && *flush != 0)
    {
        settings.Flush = true;
    }
    if (const auto maxBackup = readProfileNumber(L"MaxBackup", file); maxBackup && *maxBackup <= 255)
    {
        settings.MaxBackup = *maxBackup;
    }
    settings.TargetDir = expanded(file.getString(kSection, L"TargetDir", L""));
    return settings;
}

CTraceConfig CTraceConfig::readRegistry(CTraceConfig settings, const std::wstring& keyPath)
{
    // Only one hive is read: a key under HKEY_CURRENT_USER hides the machine's values entirely.
    HKEY hive = nullptr;
    if (WinAPI::regKeyExists(HKEY_CURRENT_USER, keyPath))
    {
        hive = HKEY_CURRENT_USER;
    }
    else if (WinAPI::regKeyExists(HKEY_LOCAL_MACHINE, keyPath))
    {
        hive = HKEY_LOCAL_MACHINE;
    }
    if (hive != nullptr)
    {
        CUniqueRegKey key;
        try
        {
            key = WinAPI::regOpenKeyEx(hive, keyPath);
        }
        catch (const CTavException&)
        {
            // A key that went away or became unreadable since the test: no registry settings.
        }
        if (key.isValid())
        {
            settings = readTraceValues(std::move(settings), key.get());
        }
    }
    settings.TargetDir = expanded(settings.TargetDir);
    return settings;
}

CTraceConfig CTraceConfig::readCommandLine(CTraceConfig settings, const CLogOptions& options)
{
    // The value compares with only A-Z folded, as option names do.
    if (options.log && options.logmode && lowerCaseCopy(*options.logmode) == L"append")
    {
        settings.appendMode = true;
    }
    return settings;
}

std::wstring composeLogFileName(const CTraceConfig& settings)
{
    std::wstring prefix;
    if (WinAPI::getDriveType(CFilePath(settings.TargetDir)) != DRIVE_FIXED)
    {
        prefix = WinAPI::getComputerName() + L"_";
    }
    return prefix + CFilePath(WinAPI::getModuleFileName()).fileName().withoutExtension() + L".log";
}

std::wstring composeLogPath(const CTraceConfig& settings, const std::wstring& fileName)
{
    return CFilePath::combine(CFilePath(settings.TargetDir), fileName);
}
