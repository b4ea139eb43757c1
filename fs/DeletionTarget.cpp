#include "fs/DeletionTarget.h"

#include "fs/ResolvedName.h"
#include "win/FileCalls.h"
#include "win/TavException.h"

namespace
{
using WinAPI::EntryKind;

// The entry as its folder lists it (the long name for a short one, the letter case as stored), or
// by the name it was given where the folder lists another entry by that name now or cannot be
// listed (a folder that may be traversed but not listed: the entry is there all the same).
WinAPI::DirectoryEntry listedEntry(HANDLE folder, const std::wstring& name, const CFilePath& shown,
                                   const WinAPI::EntryFacts& facts)
{
    try
    {
        WinAPI::DirectoryEntry listed;
        if (WinAPI::findEntry(folder, name, listed, shown) &&
            (listed.fileId == 0 || facts.fileId == 0 || listed.fileId == facts.fileId))
        {
            return listed;
        }
    }
    catch (const CTavException&)
    {
    }
    return WinAPI::DirectoryEntry{name, facts.attributes, facts.reparseTag, facts.fileId};
}
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
    CUniqueFile folder = WinAPI::openFolder(folderPath);
    if (!folder.isValid())
    {
        return std::nullopt;
    }
    // Below a file nothing can be.
    if ((WinAPI::queryEntry(folder.get(), EntryKind::Folder, folderPath).attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
    {
        return std::nullopt;
    }
    const CUniqueFile handle = WinAPI::openEntryToQuery(folder.get(), name, path);
    if (!handle.isValid())
    {
        return std::nullopt;
    }
    WinAPI::DirectoryEntry entry =
        listedEntry(folder.get(), name, path, WinAPI::queryEntry(handle.get(), EntryKind::File, path));

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
