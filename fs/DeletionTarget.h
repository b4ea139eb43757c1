#pragma once

#include "fs/FilePath.h"
#include "fs/Place.h"
#include "win/EntryCalls.h"
#include "win/UniqueHolder.h"

#include <optional>
#include <string>
#include <vector>

// The entry a deletion removes, found once through its folder's handle: the folder is opened by
// path (links on the way followed, as the caller spelled them), the entry by its single name
// relative to that handle, without following a link at that name. Whatever spelling named it (a
// short name, another letter case), the entry is then known as the file system lists it and by
// the place it lies at.
class CDeletionTarget
{
public:
    // The entry an absolute path names, or nothing when it is not there (only "not found" means
    // that). A drive, share or volume root that exists throws "Do Not EMPTY complete Disks"; any
    // other failure throws as well.
    static std::optional<CDeletionTarget> find(const CFilePath& path);

    // The path for messages: the folder as given, the entry's name as the file system lists it.
    const CFilePath& shown() const { return m_shown; }
    // Where the entry itself lies (a link's own place, not its target's).
    const CPlace& place() const { return m_place; }
    HANDLE folder() const { return m_folder.get(); }
    // The folder's resolved name, where the platform follows links.
    const std::wstring& folderName() const { return m_folderName; }
    const WinAPI::DirectoryEntry& entry() const { return m_entry; }
    // The places that could pass for the target by their resolved names (lookAlikesOf).
    const std::vector<std::wstring>& lookAlikes() const { return m_lookAlikes; }

private:
    CDeletionTarget(CFilePath shown, CPlace place) : m_shown(std::move(shown)), m_place(std::move(place)) {}

    CFilePath m_shown;
    CPlace m_place;
    CUniqueFile m_folder;
    std::wstring m_folderName;
    WinAPI::DirectoryEntry m_entry;
    std::vector<std::wstring> m_lookAlikes;
};
