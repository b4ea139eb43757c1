#include "fs/EmptyParents.h"

#include "fs/LeaveFolder.h"
#include "fs/ProtectedFolders.h"
#include "fs/ResolvedName.h"
#include "win/EntryCalls.h"
#include "win/FileCalls.h"
#include "win/TavException.h"

namespace
{
using WinAPI::DirectoryEntry;
using WinAPI::EntryKind;

// One parent, opened for its removal through its own parent's handle.
struct CParent
{
    CUniqueFile handle;
    DirectoryEntry listed;
    // The file id of the parent above, as its path named it: the folder expected next.
    std::uint64_t aboveId = 0;
};

// Why the folder cannot be taken as the parent expected; nothing when it can. Fills parent.
std::optional<std::wstring> openParent(const CFilePath& folder, std::uint64_t expectedId, bool dryRun, CParent& parent)
{
    const CFilePath above = folder.parent();
    const CUniqueFile aboveHandle = WinAPI::openFolder(verbatimForm(above));
    if (!aboveHandle.isValid() || !WinAPI::findEntry(aboveHandle.get(), folder.fileName(), parent.listed, folder))
    {
        return std::wstring(L"it is not there");
    }
    if (WinAPI::isLink(parent.listed.attributes, parent.listed.reparseTag))
    {
        return std::wstring(L"it is a link or a mount point");
    }
    parent.handle = dryRun ? WinAPI::openEntryToCheck(aboveHandle.get(), parent.listed.name, EntryKind::Folder, folder)
                           : WinAPI::openEntry(aboveHandle.get(), parent.listed.name, EntryKind::Folder, folder);
    if (!parent.handle.isValid())
    {
        return std::wstring(L"it is not there");
    }
    const WinAPI::EntryFacts facts = WinAPI::queryEntry(parent.handle.get(), EntryKind::Folder, folder);
    if (WinAPI::isLink(facts.attributes, facts.reparseTag))
    {
        return std::wstring(L"it is a link or a mount point");
    }
    // Where the platform follows links whatever it is asked, only the resolved name tells.
    if (WinAPI::platformFollowsLinks() &&
        !isEntryOf(WinAPI::queryEntryName(parent.handle.get(), EntryKind::Folder, folder),
                   WinAPI::queryEntryName(aboveHandle.get(), EntryKind::Folder, above), parent.listed.name))
    {
        return std::wstring(L"it is a link or a mount point");
    }
    if ((parent.listed.fileId != 0 && facts.fileId != parent.listed.fileId) ||
        (expectedId != 0 && facts.fileId != expectedId))
    {
        return std::wstring(L"it is no longer the folder that its path named");
    }
    parent.aboveId = WinAPI::queryFileId(aboveHandle.get(), above);
    return std::nullopt;
}

// For a dry run: the folder holds nothing but child (nothing at all when child is empty).
bool holdsOnly(HANDLE folder, const std::wstring& child, const CFilePath& shown)
{
    WinAPI::CEntryReader reader(WinAPI::reopenFolder(folder, WinAPI::FolderUse::List, shown));
    std::vector<DirectoryEntry> batch;
    while (reader.next(batch))
    {
        for (const DirectoryEntry& entry : batch)
        {
            if (child.empty() || entry.name != child)
            {
                return false;
            }
        }
    }
    return true;
}

// The walk up from the target's folder: which parent comes next and what it may hold.
class CParentRemoval
{
public:
    CParentRemoval(const CEmptyParents& request, const CProtectedFolders& protectedFolders,
                   const EntryObserver& beforeRemoving)
        : m_request(request),
          m_protected(protectedFolders),
          m_beforeRemoving(beforeRemoving),
          m_expectedId(request.folderId),
          m_child(request.targetName)
    {
    }

    // Checks the folder and removes it (a dry run checks that it holds nothing but the parent
    // below). Why it stays when it does; throws when its removal fails otherwise.
    std::optional<std::wstring> remove(const CFilePath& folder)
    {
        CParent parent;
        if (auto reason = openParent(folder, m_expectedId, m_request.dryRun, parent))
        {
            return reason;
        }
        const CPlace place = CPlace::of(parent.handle.get(), folder);
        if (m_request.stopAt && *m_request.stopAt == place)
        {
            return L"it is the folder given to stop at";
        }
        if (auto reason = m_protected.reasonToKeep(place))
        {
            return reason;
        }
        leaveFolder(place);
        if (m_beforeRemoving)
        {
            m_beforeRemoving(folder);
        }
        if (auto reason = m_request.dryRun ? reasonToKeepInDryRun(parent, folder) : removeOpen(parent, folder))
        {
            return reason;
        }
        m_expectedId = parent.aboveId;
        m_child = parent.listed.name;
        return std::nullopt;
    }

private:
    std::optional<std::wstring> reasonToKeepInDryRun(const CParent& parent, const CFilePath& folder) const
    {
        if (!holdsOnly(parent.handle.get(), m_child, folder))
        {
            return L"it is not empty";
        }
        return std::nullopt;
    }

    static std::optional<std::wstring> removeOpen(CParent& parent, const CFilePath& folder)
    {
        try
        {
            WinAPI::deleteOpenEntry(parent.handle.get(), EntryKind::Folder, folder);
        }
        catch (const CTavException& error)
        {
            if (error.errorCode == ERROR_DIR_NOT_EMPTY)
            {
                return L"it is not empty";
            }
            throw;
        }
        // The classic delete removes the folder as its handle closes.
        parent.handle.reset();
        return std::nullopt;
    }

    const CEmptyParents& m_request;
    const CProtectedFolders& m_protected;
    const EntryObserver& m_beforeRemoving;
    // The file id of the next parent as the path named it, and the name it lists the last removed by.
    std::uint64_t m_expectedId;
    std::wstring m_child;
};
}  // namespace

void removeEmptyParents(const CEmptyParents& request, CParentsListener& listener, const EntryObserver& beforeRemoving)
{
    CFilePath folder = request.target.parent();
    std::optional<CProtectedFolders> protectedFolders;
    try
    {
        protectedFolders = CProtectedFolders::ofSystem();
    }
    catch (const CTavException& error)
    {
        listener.stopped(folder, L"the system's folders cannot be asked: " + error.fullText(), true);
        return;
    }
    CParentRemoval removal(request, *protectedFolders, beforeRemoving);
    for (;; folder = folder.parent())
    {
        if (folder.empty() || folder.isRoot())
        {
            listener.stopped(folder, L"it is a volume's or a share's root", false);
            return;
        }
        try
        {
            if (const auto reason = removal.remove(folder))
            {
                listener.stopped(folder, *reason, false);
                return;
            }
            listener.removed(folder);
        }
        catch (const CTavException& error)
        {
            listener.stopped(folder, L"it cannot be removed: " + error.fullText(), true);
            return;
        }
    }
}
