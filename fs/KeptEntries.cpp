#include "fs/KeptEntries.h"

#include "fs/ResolvedName.h"
#include "win/TavException.h"

#include <algorithm>
#include <cwchar>

namespace
{
using WinAPI::DirectoryEntry;
using WinAPI::EntryKind;

constexpr std::size_t kLongestName = 255;

const wchar_t* refusalOf(const std::wstring& item)
{
    if (item.front() == L'\\')
    {
        return L"a kept path is relative to the target: no root, share, verbatim or device form";
    }
    if (item.find(L':') != std::wstring::npos)
    {
        return L"a kept path is relative to the target: no drive (and no stream)";
    }
    std::size_t begin = 0;
    while (begin < item.size())
    {
        const std::size_t end = std::min(item.find(L'\\', begin), item.size());
        const std::wstring part = item.substr(begin, end - begin);
        if (!part.empty() && part.find_first_not_of(L". ") == std::wstring::npos)
        {
            return L"a part made only of dots and blanks (\"..\", \".\") names no entry inside the target";
        }
        if (part.size() > kLongestName)
        {
            return L"a name longer than 255 characters names no entry";
        }
        begin = end + 1;
    }
    const bool invalid = std::any_of(item.begin(), item.end(),
                                     [](wchar_t c) { return c < 0x20 || std::wcschr(L"<>\"|?*", c) != nullptr; });
    if (invalid)
    {
        return L"a kept path names entries, never a pattern: no wildcard and no character that no Windows name has";
    }
    return nullptr;
}

// The parts of a kept path that name entries (empty parts, as in "a\\b" or "a\", dropped).
std::vector<std::wstring> partsOf(const CFilePath& path)
{
    std::vector<std::wstring> parts;
    std::size_t begin = 0;
    while (begin < path.size())
    {
        const std::size_t end = std::min(path.find(L'\\', begin), path.size());
        if (end > begin)
        {
            parts.push_back(path.substr(begin, end - begin));
        }
        begin = end + 1;
    }
    return parts;
}

// A folder reached on the way to a kept entry.
struct CWayFolder
{
    CUniqueFile handle;
    std::uint64_t fileId = 0;
    CFilePath shown;
    // Its resolved name, where the platform follows links.
    std::wstring resolvedName;
};

// What became of a folder on the way.
enum class EWay
{
    Entered,
    // It is a link (the platform followed it, or someone put a link there after the listing).
    Link,
    // It is not there any more.
    Gone,
};

// Opens the listed subfolder of the folder held by parent (resolved as parentName, shown as
// parentShown) into inner, to go on below it. Throws when it is another folder than the listing
// showed.
EWay enter(HANDLE parent, const std::wstring& parentName, const CFilePath& parentShown, const DirectoryEntry& listed,
           CWayFolder& inner)
{
    inner.shown = CFilePath::combine(parentShown, listed.name);
    inner.handle = WinAPI::openFolderToEmpty(parent, listed.name, inner.shown);
    if (!inner.handle.isValid())
    {
        return EWay::Gone;
    }
    const WinAPI::EntryFacts facts = WinAPI::queryEntry(inner.handle.get(), EntryKind::Folder, inner.shown);
    if (WinAPI::isLink(facts.attributes, facts.reparseTag))
    {
        return EWay::Link;
    }
    if (WinAPI::platformFollowsLinks())
    {
        inner.resolvedName = WinAPI::queryEntryName(inner.handle.get(), EntryKind::Folder, inner.shown);
        if (!isEntryOf(inner.resolvedName, parentName, listed.name))
        {
            return EWay::Link;
        }
    }
    if (listed.fileId != 0 && facts.fileId != listed.fileId)
    {
        throw CTavException(ERROR_FILE_INVALID, L"The folder " + inner.shown + L" changed while it was read.");
    }
    if (facts.fileId == 0)
    {
        throw CTavException(ERROR_NOT_SUPPORTED,
                            L"The file system of " + inner.shown + L" has no file ids to tell kept entries by.");
    }
    inner.fileId = facts.fileId;
    return EWay::Entered;
}

using EFound = CKeptEntries::EFound;

// Where one kept path ends: how it was found and, unless it is missing, the entry kept (or the link
// on the way), the id of the folder that lists it and the ids of the folders on the way.
struct CWayEnd
{
    EFound found = EFound::Missing;
    std::uint64_t folderId = 0;
    DirectoryEntry listed;
    std::vector<std::uint64_t> folders;
};

// Follows a kept path down from the target's folder, one listed name at a time; finding.shown
// becomes the path as far as it was found.
CWayEnd follow(const CWayFolder& root, CKeptEntries::CFinding& finding)
{
    const std::vector<std::wstring> parts = partsOf(finding.path);
    CWayEnd end;
    end.folders.push_back(root.fileId);
    const CWayFolder* folder = &root;
    CWayFolder entered;
    for (std::size_t i = 0; i < parts.size(); ++i)
    {
        const CFilePath shown = CFilePath::combine(folder->shown, parts[i]);
        if (!WinAPI::findEntry(folder->handle.get(), parts[i], end.listed, shown))
        {
            return CWayEnd{};
        }
        finding.shown = CFilePath::combine(folder->shown, end.listed.name);
        end.folderId = folder->fileId;
        if (i + 1 == parts.size())
        {
            end.found = EFound::Kept;
            return end;
        }
        if ((end.listed.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        {
            return CWayEnd{};
        }
        CWayFolder inner;
        const EWay way = WinAPI::isLink(end.listed.attributes, end.listed.reparseTag)
                             ? EWay::Link
                             : enter(folder->handle.get(), folder->resolvedName, folder->shown, end.listed, inner);
        if (way == EWay::Gone)
        {
            return CWayEnd{};
        }
        if (way == EWay::Link)
        {
            end.found = EFound::LinkOnTheWay;
            return end;
        }
        end.folders.push_back(inner.fileId);
        entered = std::move(inner);
        folder = &entered;
    }
    return CWayEnd{};
}
}  // namespace

CKeptPaths parseKeptPaths(const std::wstring& text)
{
    CKeptPaths result;
    std::size_t begin = 0;
    while (begin <= text.size())
    {
        const std::size_t end = std::min(text.find(L';', begin), text.size());
        std::wstring item = text.substr(begin, end - begin);
        begin = end + 1;
        if (item.empty())
        {
            continue;
        }
        std::replace(item.begin(), item.end(), L'/', L'\\');
        if (const wchar_t* refusal = refusalOf(item))
        {
            result.refusedItem = item;
            result.refusal = refusal;
            result.paths.clear();
            return result;
        }
        result.paths.emplace_back(item);
    }
    if (result.paths.empty())
    {
        result.refusal = L"it names no entry";
    }
    return result;
}

CKeptEntries CKeptEntries::find(const CDeletionTarget& target, const std::vector<CFilePath>& paths,
                                std::vector<CFinding>& findings)
{
    CKeptEntries kept;
    findings.clear();
    for (const CFilePath& path : paths)
    {
        findings.push_back(CFinding{path, CFilePath::combine(target.shown(), path), EFound::Missing});
    }
    // Only a folder that is no link holds entries.
    const DirectoryEntry& top = target.entry();
    if ((top.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || WinAPI::isLink(top.attributes, top.reparseTag))
    {
        return kept;
    }
    CWayFolder root;
    if (enter(target.folder(), target.folderName(), target.shown().parent(), top, root) != EWay::Entered)
    {
        return kept;
    }

    for (CFinding& finding : findings)
    {
        const CWayEnd end = follow(root, finding);
        finding.found = end.found;
        if (end.found != EFound::Missing)
        {
            kept.add(end.folderId, end.listed, end.folders);
        }
    }
    return kept;
}

void CKeptEntries::add(std::uint64_t folderId, const DirectoryEntry& entry, const std::vector<std::uint64_t>& way)
{
    m_names[folderId].push_back(CKeptName{entry.name, entry.fileId});
    m_onTheWay.insert(way.begin(), way.end());
}

const std::vector<CKeptName>* CKeptEntries::keptIn(std::uint64_t folderId) const
{
    const auto found = m_names.find(folderId);
    return found == m_names.end() ? nullptr : &found->second;
}

bool CKeptEntries::keeps(const std::vector<CKeptName>& names, const DirectoryEntry& entry)
{
    return std::any_of(names.begin(), names.end(), [&entry](const CKeptName& kept) {
        return kept.name == entry.name && (kept.fileId == 0 || entry.fileId == 0 || kept.fileId == entry.fileId);
    });
}
