#include "log/LogFile.h"

#include "fs/WinAPI.h"

CTraceConfig checkLogFolder(CTraceConfig settings)
{
    CFilePath folder = WinAPI::fullpath(CFilePath(settings.TargetDir));
    try
    {
        folder.createDirectories();
        WinAPI::deleteFile(WinAPI::getTempFileName(folder, L"qor"));
    }
    catch (const CTavException&)
    {
        folder = WinAPI::getWindowsDirectory();
    }
    settings.TargetDir = folder;
    return settings;
}

CSharedHandle openLogFile(CTraceConfig& settings, const std::wstring& path, bool /*compress*/)
{
    settings.sharedFile = false;
    // Append mode continues the file; the header writer moves to its end.
    const DWORD disposition = settings.appendMode ? OPEN_ALWAYS : CREATE_ALWAYS;
    return CSharedHandle(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::wstring syncMutexName(const std::wstring& path)
{
    std::wstring name = L"QOR_TAV_LOG_SYNC_" + path;
    for (std::size_t i = 17; i < name.size(); ++i)
    {
        switch (name[i])
        {
        case L'\\':
        case L':':
        case L'/':
        case L'?':
        case L'*':
            name[i] = L'_';
            break;
        default:
            break;
        }
    }
    return name;
}

CSharedHandle createSyncMutex(const std::wstring& /*path*/)
{
    return CSharedHandle();
}

bool repointTarget(std::uint32_t /*threadId*/, const CTraceConfig& /*settings*/, const std::wstring& /*newPath*/)
{
    return false;
}
