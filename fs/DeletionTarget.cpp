#include "fs/DeletionTarget.h"

#include "fs/ResolvedName.h"
#include "win/FileCalls.h"
#include "win/TavException.h"

namespace
{
using WinAPI::EntryKind;
}  // namespace

std::optional<CDeletionTarget> CDeletionTarget::find(const CFilePath& path)
{
    if (path.empty())
    {
        return std::nullopt;
    }
    const CFilePath absolute = path.absolute();
    const std::wstring systemPath = verbatimForm(absolute);
    // Judged on the absolute form, so "\", "." in a drive root or "C:\x\.." are refused as well.
    if (absolute.isRoot())
    {
        if (!WinAPI::openToLocate(systemPath).isValid())
        {
            return std::nullopt;
        }
        throw CTavException(0xFFFFFFFF, L"Do Not EMPTY complete Disks");
    }
    // The folder keeps its backslash: "\\?\C:\" is the drive's root folder, "\\?\C:" the volume.
    const std::size_t cut = systemPath.rfind(L'\\');
    const std::wstring folderPath = systemPath.substr(0, cut + 1);
    const std::wstring name = systemPath.substr(cut + 1);
    CSharedHandle folder = WinAPI::openFolder(folderPath);
    if (!folder.isValid())
    {
        return std::nullopt;
    }
    // Below a file nothing can be.
    if ((WinAPI::queryEntry(folder.get(), EntryKind::Folder, folderPath).attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
    {
        return std::nullopt;
    }
    const CSharedHandle handle = WinAPI::openEntryToQuery(folder.get(), name, path);
    if (!handle.isValid())
    {
        return std::nullopt;
    }
    const WinAPI::EntryFacts facts = WinAPI::queryEntry(handle.get(), EntryKind::File, path);

    // The name as the folder lists it: the long name for a short one, the letter case as stored.
    WinAPI::DirectoryEntry entry{name, facts.attributes, facts.reparseTag, facts.fileId};
    try
    {
        WinAPI::DirectoryEntry listed;
        if (WinAPI::findEntry(folder.get(), name, listed, path) &&
            (listed.fileId == 0 || facts.fileId == 0 || listed.fileId == facts.fileId))
        {
            entry = std::move(listed);
        }
    }
    catch (const CTavException&)
    {
        // A folder that may be traversed but not listed: the entry is there all the same, by the
        // name it was given.
    }

    CDeletionTarget target(CFilePath::combine(absolute.parent(), entry.name), CPlace::of(handle.get(), path));
    if (WinAPI::platformFollowsLinks())
    {
        target.m_folderName = WinAPI::queryEntryName(folder.get(), EntryKind::Folder, folderPath);
    }
    target.m_lookAlikes = lookAlikesOf(absolute);
    target.m_folder = std::move(folder);
    target.m_entry = std::move(entry);
    return target;
}
