#include "log/TraceConfig.h"

#include "fs/WinAPI.h"

CTraceConfig CTraceConfig::load(CTraceConfig settings)
{
    return readDefaults(std::move(settings));
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

std::wstring composeLogFileName(const CTraceConfig& settings)
{
    std::wstring prefix;
    if (WinAPI::getDriveType(CFilePath(settings.TargetDir)) != DRIVE_FIXED)
    {
        prefix = WinAPI::getComputerName() + L"_";
    }
    return prefix + WinAPI::getModuleFileName().fileName().withoutExtension() + L".log";
}

std::wstring composeLogPath(const CTraceConfig& settings, const std::wstring& fileName)
{
    return CFilePath::combine(CFilePath(settings.TargetDir), fileName);
}
