// Removing a folder tree (or one file), collecting every failure.
//
// The promise: nothing outside the named entry is deleted or changed, whatever others do in the
// tree while the walk runs. So no path is resolved twice. The entry's parent is opened once by
// path; from then on every entry is opened by its single name relative to its folder's open
// handle, without following a link at that name, and deleted only through that handle. A folder
// is entered only when its handle shows a folder that is no link and the same entry (file id) the
// listing showed; an entry that changed between listing and opening is removed as a link or
// reported, never entered. Only name surrogates (symbolic links, junctions, mount points) are
// links, and they are removed themselves; other reparse points (cloud placeholders, deduplicated
// files) are the user's data and go as what they are. Where the platform follows links whatever
// it is asked (Wine), a handle counts only when its resolved name is its folder's plus the listed
// name; links found that way are reported and left, with their targets untouched.
//
// The cost per entry is flat: one open, one delete, one close. Names are never looked up again.
// Only a folder that is "not empty" after a pass without failures (another deleter still at
// work, a deleted file still held open) is listed again, and for a bounded time waited for.
//
// Names are handed to Windows verbatim, so a trailing dot or blank, device names such as NUL and
// paths beyond 260 characters are deleted too; messages show the normal form.
//
// A folder throws one exception listing every failure inside it, one per line, with the code of
// the last one; a parent lists a failed subfolder by that exception's full text, so lists nest.
//
// With a deferral (the option for entries in use), an open or a delete that fails because
// something holds the entry is tried again while the run's retry time lasts; a file that stays in
// use is then moved aside through the very handle that passed the checks above, never a new one.

#include "fs/FolderDeletion.h"

#include "fs/InUseDeferral.h"
#include "fs/ResolvedName.h"
#include "win/EntryCalls.h"
#include "win/FileCalls.h"
#include "win/SystemCalls.h"
#include "win/TavException.h"

#include <cwchar>
#include <optional>
#include <vector>

namespace
{
using WinAPI::DirectoryEntry;
using WinAPI::EntryKind;

// How long a folder whose entries are all deleted may stay "not empty" (and a deleted file stay
// visible) because others still hold what was deleted.
constexpr ULONGLONG kLingerWaitMs = 3000;

class CFailures
{
public:
    void add(const CTavException& error)
    {
        m_list += error.fullText();
        m_list += L'\n';
        m_lastCode = error.errorCode;
    }

    bool any() const { return !m_list.empty(); }
    // All failures as one exception: one per line, with the code of the last one.
    CTavException error() const { return CTavException(m_lastCode, m_list); }
    void throwIfAny() const
    {
        if (any())
        {
            throw error();
        }
    }

private:
    std::wstring m_list;
    std::uint32_t m_lastCode = 0;
};

// A reparse point whose tag the platform does not report counts as a link.
bool isLink(std::uint32_t attributes, std::uint32_t reparseTag)
{
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
           (reparseTag == 0 || IsReparseTagNameSurrogate(reparseTag));
}

EntryKind kindOf(const DirectoryEntry& entry)
{
    if (isLink(entry.attributes, entry.reparseTag))
    {
        return EntryKind::Link;
    }
    return (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::Folder : EntryKind::File;
}

// One folder being emptied: its handle, the current pass over its entries, the failures inside.
struct CFolderLevel
{
    CFilePath shown;
    CSharedHandle handle;
    // The folder's resolved name, where the platform follows links.
    std::wstring resolvedName;
    WinAPI::CEntryReader reader;
    std::vector<DirectoryEntry> batch;
    std::size_t next = 0;
    CFailures failures;
    // Set when the folder is first found not empty after a pass without failures.
    ULONGLONG relistUntil = 0;

    // A pass reads the folder through a handle of its own: a handle lists a folder only once.
    void startPass()
    {
        batch.clear();
        next = 0;
        try
        {
            reader = WinAPI::CEntryReader(WinAPI::reopenFolder(handle.get(), false, shown));
        }
        catch (const CTavException&)
        {
            // A folder that cannot be listed has no entries to offer; its removal tells what is left.
            reader = WinAPI::CEntryReader();
        }
    }

    bool nextEntry(DirectoryEntry& entry)
    {
        while (next == batch.size())
        {
            next = 0;
            if (!reader.next(batch))
            {
                return false;
            }
        }
        entry = std::move(batch[next++]);
        return true;
    }
};

// Runs attempt, an operation on one entry. With a deferral, a failure that says the entry is in
// use runs it again while the entry's retry time lasts; the last failure leaves.
template <class Attempt>
auto retryInUse(CInUseDeferral* deferral, std::optional<CInUseRetry::CEntry>& retry, Attempt attempt)
{
    for (;;)
    {
        try
        {
            return attempt();
        }
        catch (const CTavException& error)
        {
            if (deferral == nullptr || !isInUse(error.errorCode) || !deferral->available())
            {
                throw;
            }
            if (!retry)
            {
                retry.emplace(deferral->retry());
            }
            if (!retry->wait())
            {
                throw;
            }
        }
    }
}

// Deletes an open file; with a deferral, one that stays in use is moved aside through its handle.
// False when the name lingers.
bool deleteOpenFile(HANDLE file, const CFilePath& shown, CInUseDeferral* deferral,
                    std::optional<CInUseRetry::CEntry>& retry)
{
    const auto attempt = [&] { return WinAPI::deleteOpenEntry(file, EntryKind::File, shown); };
    try
    {
        return attempt();
    }
    catch (const CTavException& error)
    {
        // This program's own file is neither waited for nor moved: its final deleter removes it.
        if (deferral == nullptr || !isInUse(error.errorCode) || deferral->isOwnImage(file))
        {
            throw;
        }
    }
    try
    {
        return retryInUse(deferral, retry, attempt);
    }
    catch (const CTavException& error)
    {
        if (deferral == nullptr || !isInUse(error.errorCode) || !deferral->moveAside(file, shown))
        {
            throw;
        }
        return true;
    }
}

// Deletes one entry of an open folder, or opens it for walking when it is a folder to enter.
// lingers: the deleted name stays until others let go of the entry.
std::optional<CFolderLevel> takeEntry(HANDLE folder, const std::wstring& folderName, const DirectoryEntry& entry,
                                      const CFilePath& shown, bool& lingers, CInUseDeferral* deferral)
{
    const EntryKind kind = kindOf(entry);
    std::optional<CInUseRetry::CEntry> retry;
    CSharedHandle handle =
        retryInUse(deferral, retry, [&] { return WinAPI::openEntry(folder, entry.name, kind, shown); });
    if (!handle.isValid())
    {
        return std::nullopt;  // gone already
    }
    if (kind == EntryKind::Link)
    {
        // A handle that is no link is the link's target (the platform followed it) or an entry that
        // replaced the link: deleting through it could reach outside the tree.
        const WinAPI::EntryFacts facts = WinAPI::queryEntry(handle.get(), kind, shown);
        if (!isLink(facts.attributes, facts.reparseTag))
        {
            throw CTavException(ERROR_NOT_A_REPARSE_POINT, WinAPI::entryFailure(kind, shown));
        }
        lingers = !WinAPI::deleteOpenEntry(handle.get(), kind, shown);
        return std::nullopt;
    }
    if (kind == EntryKind::Folder)
    {
        const WinAPI::EntryFacts facts = WinAPI::queryEntry(handle.get(), kind, shown);
        if (isLink(facts.attributes, facts.reparseTag))
        {
            // Replaced by a link after the listing: it goes as a link.
            lingers = !WinAPI::deleteOpenEntry(handle.get(), EntryKind::Link, shown);
            return std::nullopt;
        }
        if (entry.fileId != 0 && facts.fileId != entry.fileId)
        {
            // Not the folder the listing showed: swapped, or a link the platform followed.
            throw CTavException(ERROR_FILE_INVALID, WinAPI::entryFailure(kind, shown));
        }
    }
    std::wstring resolvedName;
    if (WinAPI::platformFollowsLinks())
    {
        resolvedName = WinAPI::queryEntryName(handle.get(), kind, shown);
        if (!isEntryOf(resolvedName, folderName, entry.name))
        {
            throw CTavException(ERROR_CANT_RESOLVE_FILENAME, WinAPI::entryFailure(kind, shown));
        }
    }
    if (kind == EntryKind::File)
    {
        lingers = !deleteOpenFile(handle.get(), shown, deferral, retry);
        return std::nullopt;
    }
    CFolderLevel level;
    level.shown = shown;
    level.handle = std::move(handle);
    level.resolvedName = std::move(resolvedName);
    level.startPass();
    return level;
}

// Removes a folder whose pass is over. False when it is to be listed again first: it is not empty
// although nothing inside failed.
bool removeFolder(CFolderLevel& level)
{
    level.reader.reset();
    try
    {
        const CSharedHandle folder = WinAPI::reopenFolder(level.handle.get(), true, level.shown);
        if (folder.isValid())
        {
            WinAPI::deleteOpenEntry(folder.get(), EntryKind::Folder, level.shown);
        }
        return true;
    }
    catch (const CTavException& error)
    {
        if (error.errorCode == ERROR_DIR_NOT_EMPTY && !level.failures.any())
        {
            const ULONGLONG now = ::GetTickCount64();
            if (level.relistUntil == 0)
            {
                level.relistUntil = now + kLingerWaitMs;
            }
            else if (now < level.relistUntil)
            {
                ::Sleep(5);
            }
            else
            {
                level.failures.add(error);
                return true;
            }
            level.startPass();
            return false;
        }
        level.failures.add(error);
        return true;
    }
}

// Walks the tree with a stack of its own instead of recursion, so no depth of folders (the long
// path form allows thousands) can exhaust the thread's stack.
void deleteFolder(CFolderLevel top, const EntryObserver& beforeOpening, CInUseDeferral* deferral)
{
    std::vector<CFolderLevel> levels;
    levels.push_back(std::move(top));
    while (!levels.empty())
    {
        CFolderLevel& level = levels.back();
        DirectoryEntry entry;
        if (level.nextEntry(entry))
        {
            const CFilePath shown = CFilePath::combine(level.shown, entry.name);
            std::optional<CFolderLevel> inner;
            try
            {
                if (beforeOpening)
                {
                    beforeOpening(shown);
                }
                bool lingers = false;
                inner = takeEntry(level.handle.get(), level.resolvedName, entry, shown, lingers, deferral);
            }
            catch (const CTavException& error)
            {
                level.failures.add(error);
            }
            if (inner)
            {
                levels.push_back(std::move(*inner));
            }
            continue;
        }
        if (!removeFolder(level))
        {
            continue;
        }
        const CFailures failures = std::move(level.failures);
        levels.pop_back();
        if (levels.empty())
        {
            failures.throwIfAny();
        }
        else if (failures.any())
        {
            levels.back().failures.add(failures.error());
        }
    }
}

// A deleted file that others still hold open stays visible: wait for it, but not forever.
void waitUntilGone(const std::wstring& systemPath, const CFilePath& shown)
{
    const ULONGLONG deadline = ::GetTickCount64() + kLingerWaitMs;
    while (pathExists(systemPath))
    {
        if (::GetTickCount64() >= deadline)
        {
            throw CTavException(ERROR_TIMEOUT, WinAPI::entryFailure(EntryKind::File, shown));
        }
        ::Sleep(5);
    }
}

// A folder that is the current directory of a process cannot be removed: move ours elsewhere.
void leaveFolder(const CFilePath& folder)
{
    try
    {
        if (!isSameOrInside(WinAPI::getCurrentDirectory(), folder))
        {
            return;
        }
        CFilePath elsewhere = WinAPI::getTempPath();
        if (isSameOrInside(elsewhere, folder))
        {
            elsewhere = WinAPI::getWindowsDirectory();
        }
        ::SetCurrentDirectoryW(elsewhere.c_str());
    }
    catch (const CTavException&)
    {
        // Then the removal of the folder itself reports what is in the way.
    }
}

void clearReadOnly(const std::wstring& path, DWORD attributes)
{
    for (int round = 0; round < 1000 && (attributes & FILE_ATTRIBUTE_READONLY) != 0; ++round)
    {
        ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
        attributes = ::GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
        {
            return;
        }
        if ((attributes & FILE_ATTRIBUTE_READONLY) != 0)
        {
            ::Sleep(2);
        }
    }
}
}  // namespace

std::wstring verbatimForm(const CFilePath& absolute)
{
    if (absolute.compare(0, 4, L"\\\\?\\") == 0 || absolute.compare(0, 4, L"\\\\.\\") == 0)
    {
        return absolute;
    }
    if (absolute.compare(0, 2, L"\\\\") == 0)
    {
        return L"\\\\?\\UNC\\" + absolute.substr(2);
    }
    return L"\\\\?\\" + absolute;
}

void deleteFileForced(const CFilePath& file)
{
    const DWORD attributes = ::GetFileAttributesW(file.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES && !file.exists())
    {
        return;
    }
    clearReadOnly(file, attributes == INVALID_FILE_ATTRIBUTES ? 0 : attributes);
    WinAPI::deleteFile(file);
}

void deleteCompletely(const CFilePath& path, const EntryObserver& beforeOpening, CInUseDeferral* deferral)
{
    if (path.empty())
    {
        return;
    }
    const CFilePath absolute = path.absolute();
    const std::wstring systemPath = verbatimForm(absolute);
    if (!pathExists(systemPath))
    {
        return;
    }
    // Judged on the absolute form, so "\", "." in a drive root or "C:\x\.." are refused as well.
    if (absolute.isRoot())
    {
        throw CTavException(0xFFFFFFFF, L"Do Not EMPTY complete Disks");
    }
    leaveFolder(absolute);

    // The entry itself is taken like every entry inside it: through its folder's handle. The
    // folder keeps its backslash: "\\?\C:\" is the drive's root folder, "\\?\C:" the volume.
    const std::size_t cut = systemPath.rfind(L'\\');
    const std::wstring parentPath = systemPath.substr(0, cut + 1);
    const CSharedHandle parent = WinAPI::openFolder(parentPath);
    DirectoryEntry entry;
    if (!parent.isValid() || !WinAPI::findEntry(parent.get(), systemPath.substr(cut + 1), entry, parentPath))
    {
        return;
    }
    const std::wstring parentName = WinAPI::platformFollowsLinks()
                                        ? WinAPI::queryEntryName(parent.get(), EntryKind::Folder, parentPath)
                                        : std::wstring();
    if (beforeOpening)
    {
        beforeOpening(path);
    }
    bool lingers = false;
    std::optional<CFolderLevel> folder = takeEntry(parent.get(), parentName, entry, path, lingers, deferral);
    if (folder)
    {
        deleteFolder(std::move(*folder), beforeOpening, deferral);
    }
    else if (lingers)
    {
        waitUntilGone(systemPath, path);
    }
}
