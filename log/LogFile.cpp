#include "log/LogFile.h"

#include "fs/Place.h"
#include "fs/SameFile.h"
#include "log/LogHeader.h"
#include "log/SyncLock.h"
#include "win/FileCalls.h"
#include "win/NamedMutex.h"
#include "win/Platform.h"
#include "win/SystemCalls.h"
#include "win/TavException.h"

#include <winioctl.h>

#include <cstdint>
#include <cwchar>

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

CSharedHandle openLogFile(CTraceConfig& settings, const std::wstring& path, bool compress)
{
    try
    {
        const bool continueFile = settings.appendMode || settings.sharedFile;
        if (!continueFile)
        {
            rotateBackups(settings, path, 1);
        }
        CSharedHandle file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, continueFile ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                         nullptr));
        if (file.isValid() && compress)
        {
            // File systems without compression refuse this; the log does not depend on it.
            USHORT format = COMPRESSION_FORMAT_DEFAULT;
            DWORD returned = 0;
            ::DeviceIoControl(file.get(), FSCTL_SET_COMPRESSION, &format, sizeof format, nullptr, 0, &returned,
                              nullptr);
        }
        return file;
    }
    catch (const CTavException&)
    {
        return CSharedHandle();
    }
}

namespace
{
// Backup number k of the log at path: the file name with its trailing digits replaced by k.
CFilePath backupPath(const std::wstring& path, std::uint32_t k)
{
    WinAPI::SplitPath parts = WinAPI::splitpath(path);
    const std::size_t digits = parts.fileName.find_last_not_of(L"0123456789");
    parts.fileName.erase(digits == std::wstring::npos ? 0 : digits + 1);
    parts.fileName += std::to_wstring(k);
    return CFilePath(WinAPI::makepath(parts));
}

// Moves file to backup number k of log, first making room by moving that backup on to the next
// number. place counts the backups up to k; at settings.MaxBackup the backup there is dropped. A
// log whose name ends in digits can be its own backup (Setup1.log is backup 1 of Setup1.log):
// that number is skipped, so the log never moves onto itself and still keeps MaxBackup backups.
void moveToBackup(const CTraceConfig& settings, const std::wstring& log, const std::wstring& file, std::uint32_t k,
                  std::uint32_t place)
{
    CFilePath backup = backupPath(log, k);
    if (::CompareStringOrdinal(backup.c_str(), -1, log.c_str(), -1, TRUE) == CSTR_EQUAL)
    {
        backup = backupPath(log, ++k);
    }
    if (backup.exists())
    {
        if (place < settings.MaxBackup)
        {
            moveToBackup(settings, log, backup, k + 1, place + 1);
        }
        else
        {
            WinAPI::tryDeleteFile(backup);
        }
    }
    if (settings.MaxBackup == 0)
    {
        return;
    }
    if (WinAPI::tryMoveFile(file, backup) != ERROR_SUCCESS)
    {
        CFilePath(file).copyFileTo(backup);
        WinAPI::tryDeleteFile(file);
    }
}
}  // namespace

void rotateBackups(const CTraceConfig& settings, const std::wstring& path, std::uint32_t k)
{
    if (CFilePath(path).exists())
    {
        moveToBackup(settings, path, path, k, k);
    }
}

std::wstring syncMutexName(const std::wstring& path)
{
    // A relative path names another file in every current directory, so its name is made from
    // the absolute path. Absolute paths keep the name that every writer of the product uses.
    const bool absolute =
        (path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/')) || path.starts_with(L"\\\\");
    const std::wstring file = absolute ? path : WinAPI::fullpath(path);
    std::wstring name = file;
    for (wchar_t& c : name)
    {
        if (c == L'\\' || c == L':' || c == L'/' || c == L'?' || c == L'*')
        {
            c = L'_';
        }
    }
    name = L"QOR_TAV_LOG_SYNC_" + name;

    // Object names end at MAX_PATH characters. A longer name would leave the file without a mutex,
    // and every writer would then start the file anew over the others' lines: such names keep
    // their beginning and get a hash of the whole path instead.
    constexpr std::size_t kLongest = MAX_PATH - 1;
    if (name.size() > kLongest)
    {
        std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
        for (wchar_t c : file)
        {
            hash = (hash ^ static_cast<std::uint16_t>(c)) * 1099511628211ull;
        }
        wchar_t suffix[18];
        std::swprintf(suffix, 18, L"_%016llx", static_cast<unsigned long long>(hash));
        name = name.substr(0, kLongest - 17) + suffix;
    }
    return name;
}

CSharedHandle createSyncMutex(const std::wstring& path, bool& existed)
{
    // A null access list: every account may open and wait on the mutex.
    SECURITY_DESCRIPTOR descriptor;
    ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    ::SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, TRUE};
#if TIDEWELL_X86
    static_assert(sizeof attributes == 12, "SECURITY_ATTRIBUTES of the 32-bit program");
#endif
    std::uint32_t error = ERROR_SUCCESS;
    // Every spelling of the folder (letter case, short names, a substituted drive) meets one mutex;
    // a path spelled as the file system spells it keeps the name its peers derive from it.
    return WinAPI::tryCreateMutex(syncMutexName(withFolderAsFileSystemSpellsIt(path)), false, &attributes, existed,
                                  error);
}

void repointTarget(CLogTarget& target, const CTraceConfig& settings, const std::wstring& newPath)
{
    if (isSameFile(CFilePath(target.path), CFilePath(newPath)))
    {
        return;
    }
    CTraceConfig copy = settings;
    target.file.reset();
    // Other writers of the old file wait until it has moved.
    CSyncLock oldFile(target.syncMutex, CSyncLock::kWaitMs);
    target.syncMutex.reset();

    copy = checkLogFolder(copy);
    try
    {
        rotateBackups(copy, newPath, 1);
    }
    catch (const CTavException&)
    {
        // The older logs stay where they are; the move goes on.
    }
    const bool hadOldFile = CFilePath(target.path).exists();
    if (hadOldFile)
    {
        // A file that others hold open does not move: what it holds goes along as a copy.
        if (WinAPI::tryMoveFile(target.path, newPath) != ERROR_SUCCESS)
        {
            WinAPI::tryCopyFile(target.path, newPath);
        }
        copy.appendMode = true;
    }

    bool shared = false;
    target.syncMutex = createSyncMutex(newPath, shared);
    CSyncLock newFile(target.syncMutex, CSyncLock::kWaitMs);
    target.syncWait = newFile.timedOut() ? CLogTarget::SyncWait::busyUnreported : CLogTarget::SyncWait::taken;
    copy.sharedFile = shared;
    target.file = openLogFile(copy, newPath, true);
    target.path = newPath;
    if (target.file.isValid())
    {
        if (!hadOldFile)
        {
            writeLogHeader(copy, target);
        }
        target.headerPending = false;
    }
}
