#include "fs/ResolvedName.h"

#include "fs/FilePath.h"
#include "win/EntryCalls.h"
#include "win/FileCalls.h"
#include "win/IgnoringCase.h"
#include "win/TavException.h"

#include <windows.h>

#include <string_view>
#include <vector>

namespace
{
std::wstring_view trimmed(std::wstring_view name)
{
    const std::size_t kept = name.find_last_not_of(L". ");
    return kept == std::wstring_view::npos ? std::wstring_view() : name.substr(0, kept + 1);
}

// Both paths name by name the same place, each name compared without its trailing dots and blanks.
bool samePath(std::wstring_view a, std::wstring_view b)
{
    for (;;)
    {
        const std::size_t endA = std::min(a.find(L'\\'), a.size());
        const std::size_t endB = std::min(b.find(L'\\'), b.size());
        if (trimmed(a.substr(0, endA)) != trimmed(b.substr(0, endB)))
        {
            return false;
        }
        if (endA == a.size() || endB == b.size())
        {
            return endA == a.size() && endB == b.size();
        }
        a.remove_prefix(endA + 1);
        b.remove_prefix(endB + 1);
    }
}
}  // namespace

bool isEntryOf(const std::wstring& resolved, const std::wstring& folder, const std::wstring& name)
{
    const std::size_t cut = resolved.rfind(L'\\');
    if (cut == std::wstring::npos)
    {
        return false;
    }
    std::wstring_view folderName = folder;
    if (!folderName.empty() && folderName.back() == L'\\')
    {
        folderName.remove_suffix(1);  // a root: "\??\C:\"
    }
    const std::wstring_view view = resolved;
    return trimmed(view.substr(cut + 1)) == trimmed(name) && samePath(view.substr(0, cut), folderName);
}

namespace
{
// The entries of the folder other than name whose names differ from it only by trailing dots and
// blanks.
std::vector<std::wstring> twinsOf(const CFilePath& folder, const std::wstring& name)
{
    std::vector<std::wstring> twins;
    const CUniqueFile handle = WinAPI::openFolder(verbatimForm(folder) + L"\\");
    if (!handle.isValid())
    {
        return twins;
    }
    WinAPI::CEntryReader reader(WinAPI::reopenFolder(handle.get(), WinAPI::FolderUse::List, folder));
    std::vector<WinAPI::DirectoryEntry> batch;
    while (reader.next(batch))
    {
        for (const WinAPI::DirectoryEntry& entry : batch)
        {
            if (!WinAPI::equalIgnoringCase(entry.name, name) &&
                WinAPI::equalIgnoringCase(trimmed(entry.name), trimmed(name)))
            {
                twins.push_back(entry.name);
            }
        }
    }
    return twins;
}
}  // namespace

std::vector<std::wstring> lookAlikesOf(const std::wstring& absolute)
{
    std::vector<std::wstring> lookAlikes;
    if (!WinAPI::platformFollowsLinks())
    {
        return lookAlikes;
    }
    std::wstring below;
    for (CFilePath path(absolute); !path.empty() && !path.isRoot() && path.parent() != path; path = path.parent())
    {
        for (const std::wstring& twin : twinsOf(path.parent(), path.fileName()))
        {
            lookAlikes.push_back(verbatimForm(CFilePath::combine(path.parent(), twin)) + below);
        }
        below.insert(0, L"\\" + path.fileName());
    }
    return lookAlikes;
}

bool isLookAlike(HANDLE entry, const std::vector<std::wstring>& lookAlikes, const std::wstring& relative)
{
    if (lookAlikes.empty())
    {
        return false;
    }
    const std::uint64_t id = WinAPI::queryEntry(entry, WinAPI::EntryKind::File, relative).fileId;
    for (const std::wstring& place : lookAlikes)
    {
        const CUniqueFile there = WinAPI::openToLocate(place + relative);
        if (there.isValid() && WinAPI::queryEntry(there.get(), WinAPI::EntryKind::File, place + relative).fileId == id)
        {
            return true;
        }
    }
    return false;
}
