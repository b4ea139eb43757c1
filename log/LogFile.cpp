#include "log/LogFile.h"

#include "fs/Place.h"
#include "fs/SameFile.h"
#include "log/LogFolder.h"
#include "log/LogHeader.h"
#include "log/SyncLock.h"
#include "win/EntryCalls.h"
#include "win/FileCalls.h"
#include "win/IgnoringCase.h"
#include "win/MoveCalls.h"
#include "win/NamedMutex.h"
#include "win/SystemCalls.h"
#include "win/TavException.h"

#include <cstdint>
#include <cwchar>
#include <optional>

namespace
{
// Backup names passed over because something other than a plain file holds them.
constexpr std::uint32_t kPassedBackups = 9;

// The file name's stem and its extension (with its dot): "tool" and ".log".
std::pair<std::wstring, std::wstring> splitName(const std::wstring& name)
{
    const std::size_t dot = name.rfind(L'.');
    return dot == std::wstring::npos ? std::make_pair(name, std::wstring())
                                     : std::make_pair(name.substr(0, dot), name.substr(dot));
}

// Backup number k of the log called log: the stem with its trailing digits replaced by k.
std::wstring backupName(const std::wstring& log, std::uint32_t k)
{
    auto [stem, extension] = splitName(log);
    const std::size_t digits = stem.find_last_not_of(L"0123456789");
    stem.erase(digits == std::wstring::npos ? 0 : digits + 1);
    return stem + std::to_wstring(k) + extension;
}

std::wstring notPlainNote(const std::wstring& path)
{
    return path + L" is no plain file of this log (a link, say): it was left alone.";
}

// Moves file to backup number k of log, first making room by moving that backup on to the next
// number. place counts the backups up to k; at settings.MaxBackup the backup there is dropped. A
// log whose name ends in digits can be its own backup (Setup1.log is backup 1 of Setup1.log): that
// number is skipped, so the log never moves onto itself and still keeps MaxBackup backups. So is a
// number whose name holds anything but a plain file: it is left alone.
void moveToBackup(const CLogFolder& folder, const CTraceConfig& settings, const std::wstring& log,
                  const std::wstring& file, std::uint32_t k, std::uint32_t place, std::vector<std::wstring>& notes)
{
    std::wstring backup;
    CLogFolder::EEntry kind = CLogFolder::EEntry::other;
    for (std::uint32_t passed = 0; kind == CLogFolder::EEntry::other; ++k)
    {
        backup = backupName(log, k);
        if (WinAPI::equalIgnoringCase(backup, log))
        {
            continue;
        }
        kind = folder.inspect(backup);
        if (kind == CLogFolder::EEntry::other)
        {
            notes.push_back(notPlainNote(folder.pathOf(backup)));
            if (++passed == kPassedBackups)
            {
                throw CTavException(ERROR_FILE_EXISTS, L"No backup name is free in " + folder.path() + L".");
            }
        }
    }
    if (kind == CLogFolder::EEntry::plainFile)
    {
        if (place < settings.MaxBackup)
        {
            moveToBackup(folder, settings, log, backup, k, place + 1, notes);
        }
        else
        {
            folder.tryRemoveFile(backup);
        }
    }
    if (settings.MaxBackup != 0)
    {
        folder.moveFile(file, backup);
    }
}

void rotate(const CLogFolder& folder, const CTraceConfig& settings, const std::wstring& name,
            std::vector<std::wstring>& notes)
{
    if (folder.inspect(name) == CLogFolder::EEntry::plainFile)
    {
        moveToBackup(folder, settings, name, name, 1, 1, notes);
    }
}

// The old file of a moved log goes unless another writer still holds it, and only while its name
// still leads to the very file the log wrote (the folder may have been swapped for a link).
void removeUnlessHeld(const std::wstring& path, const BY_HANDLE_FILE_INFORMATION& file)
{
    try
    {
        const CFilePath full = WinAPI::fullpath(path);
        CLogFolder(full.parent()).tryRemoveFile(full.fileName(), &file);
    }
    catch (const CTavException&)
    {
        // Its folder is gone already.
    }
}

void requestCompression(HANDLE file)
{
    // File systems without compression refuse this; the log does not depend on it.
    WinAPI::trySetCompression(file);
}
}  // namespace

CTraceConfig checkLogFolder(CTraceConfig settings)
{
    CFilePath folder = WinAPI::fullpath(CFilePath(settings.TargetDir));
    try
    {
        folder.createDirectories();
        CLogFolder(folder).checkWritable();
    }
    catch (const CTavException&)
    {
        folder = WinAPI::getWindowsDirectory();
    }
    settings.TargetDir = folder;
    return settings;
}

std::wstring logNameChoice(const std::wstring& path, std::uint32_t n)
{
    if (n <= 1)
    {
        return path;
    }
    const CFilePath full(path);
    const auto [stem, extension] = splitName(full.fileName());
    return CFilePath::combine(full.parent(), stem + L" (" + std::to_wstring(n) + L")" + extension);
}

CLogOpen openLogFile(CTraceConfig& settings, const std::wstring& path, bool compress)
{
    CLogOpen result;
    try
    {
        const CFilePath full = WinAPI::fullpath(path);
        const CLogFolder folder(full.parent());
        const std::wstring name = full.fileName();
        if (folder.inspect(name) == CLogFolder::EEntry::other)
        {
            result.nameTaken = true;
            result.notes.push_back(notPlainNote(path));
            return result;
        }
        // Shared only with a writer that really holds the file: a sync mutex that someone else made
        // (or left) beforehand does not make this log run on under another header.
        settings.sharedFile = folder.isHeld(name);
        const bool continueFile = settings.appendMode || settings.sharedFile;
        if (!continueFile)
        {
            rotate(folder, settings, name, result.notes);
        }
        result.file = folder.openFile(name, !continueFile);
        if (result.file.isValid() && compress)
        {
            requestCompression(result.file.get());
        }
    }
    catch (const CTavException& error)
    {
        // Said in the log where it goes instead.
        result.file.reset();
        result.notes.push_back(L"The log file " + path + L" could not be opened: " + error.fullText());
    }
    return result;
}

void rotateBackups(const CTraceConfig& settings, const std::wstring& path, std::uint32_t k)
{
    const CFilePath full = WinAPI::fullpath(path);
    const CLogFolder folder(full.parent());
    std::vector<std::wstring> notes;
    if (folder.inspect(full.fileName()) == CLogFolder::EEntry::plainFile)
    {
        moveToBackup(folder, settings, full.fileName(), full.fileName(), k, k, notes);
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

CUniqueHandle createSyncMutex(const std::wstring& path, bool& existed)
{
    std::uint32_t error = ERROR_SUCCESS;
    // Every spelling of the folder (letter case, short names, a substituted drive) meets one mutex;
    // a path spelled as the file system spells it keeps the name its peers derive from it.
    return WinAPI::tryCreateMutex(syncMutexName(withFolderAsFileSystemSpellsIt(path)), false,
                                  WinAPI::MutexAccess::Everyone, existed, error);
}

namespace
{
// False, with a note, when the log must not move to name: another writer's log, or no plain file.
bool isFreeForMove(const CLogFolder& folder, const std::wstring& name, const std::wstring& candidate,
                   std::vector<std::wstring>& notes)
{
    if (folder.isHeld(name))
    {
        // Another writer's log: this one's lines must not run on under that writer's header.
        notes.push_back(candidate + L" is another writer's log: it was left alone.");
        return false;
    }
    if (folder.inspect(name) == CLogFolder::EEntry::other)
    {
        notes.push_back(notPlainNote(candidate));
        return false;
    }
    return true;
}

// The target moved into a file of its own at candidate (an older log there is kept as a backup),
// with what the old file holds carried over and a header where the moved log needs one.
CLogTarget startMovedTarget(const CLogTarget& target, const CTraceConfig& settings, const CLogFolder& folder,
                            const std::wstring& name, const std::wstring& candidate, CUniqueHandle mutex, bool syncBusy,
                            std::vector<std::wstring>& notes)
{
    rotate(folder, settings, name, notes);
    CLogTarget moved;
    moved.threadId = target.threadId;
    moved.file = folder.createFile(name);
    const bool carried = target.file.isValid();
    if (carried)
    {
        WinAPI::copyContent(target.file.get(), moved.file.get());
    }
    requestCompression(moved.file.get());
    moved.path = candidate;
    moved.syncMutex = std::move(mutex);
    moved.syncWait = syncBusy ? CLogTarget::SyncWait::busyUnreported : CLogTarget::SyncWait::taken;
    moved.startedFile = target.startedFile;
    if (!carried || !target.startedFile)
    {
        CTraceConfig header = settings;
        header.appendMode = carried;
        header.sharedFile = false;
        writeLogHeader(header, moved);
        moved.startedFile = true;
    }
    moved.headerPending = false;
    return moved;
}
}  // namespace

bool repointTarget(CLogTarget& target, const CTraceConfig& settings, const std::wstring& newPath,
                   std::vector<std::wstring>& notes)
{
    if (isSameFile(CFilePath(target.path), CFilePath(newPath)))
    {
        return true;
    }
    // Other writers of the old file wait until what it holds has been carried along.
    CSyncLock oldFile(target.syncMutex.get(), CSyncLock::kWaitMs);
    try
    {
        CFilePath(newPath).parent().createDirectories();
    }
    catch (const CTavException&)
    {
        // Then no name there can be made, and the log stays where it is.
    }
    for (std::uint32_t n = 1; n <= kLogNames; ++n)
    {
        const std::wstring candidate = logNameChoice(newPath, n);
        // Whether the mutex existed tells nothing here: whether another writer holds the file does.
        bool existed = false;
        CUniqueHandle mutex = createSyncMutex(candidate, existed);
        CSyncLock newFile(mutex.get(), CSyncLock::kWaitMs);
        try
        {
            const CFilePath full = WinAPI::fullpath(candidate);
            const CLogFolder folder(full.parent());
            if (!isFreeForMove(folder, full.fileName(), candidate, notes))
            {
                continue;
            }
            std::optional<BY_HANDLE_FILE_INFORMATION> oldFileIdentity;
            if (target.file.isValid())
            {
                oldFileIdentity = WinAPI::getFileInformationByHandle(target.file.get(), target.path);
            }
            const std::wstring oldPath = target.path;
            // The old mutex stays open until oldFile has given it back.
            const CUniqueHandle oldMutex = std::move(target.syncMutex);
            target = startMovedTarget(target, settings, folder, full.fileName(), candidate, std::move(mutex),
                                      newFile.timedOut(), notes);
            oldFile.release();
            if (oldFileIdentity)
            {
                removeUnlessHeld(oldPath, *oldFileIdentity);
            }
            return true;
        }
        catch (const CTavException&)
        {
            // Held by another program, say: the next name.
        }
    }
    return false;
}
