#pragma once

#include "fs/DeletionTarget.h"
#include "fs/FilePath.h"
#include "win/EntryCalls.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// Entries inside a deletion's target that stay, named relative to the target.
//
// A kept path is taken strictly: a chain of names below the target, separated by backslashes (or
// slashes), and nothing else. Refused: an absolute or rooted path, a drive ("C:x"), a verbatim or
// device form, a part made only of dots and blanks ("..", "."), a wildcard or any other character
// that no Windows name has, a name longer than 255 characters.
struct CKeptPaths
{
    std::vector<CFilePath> paths;
    // The first item refused, and why (null when every item is taken).
    std::wstring refusedItem;
    const wchar_t* refusal = nullptr;
};

// The kept paths of text, items separated by ';' (empty items are skipped; a text without any item
// is refused).
CKeptPaths parseKeptPaths(const std::wstring& text);

// A name in a folder that the walk keeps, with the file system's id of the entry it named.
struct CKeptName
{
    std::wstring name;
    std::uint64_t fileId = 0;
};

// The kept entries of one deletion, found once before the walk and known from then on by their
// identity: the file system's id of the folder they lie in (the target's, or a folder on the way),
// their name as that folder lists it and their own id. Each path is followed from the target down
// through handles, one name at a time relative to the folder before, never by a path and never
// through a link: a link on the way is kept itself (the walk never follows it, so nothing behind
// it is looked for or reached), and a kept entry that is a link is kept as the link. The folders
// on the way to a kept entry, the target included, stay; so does everything inside a kept folder.
class CKeptEntries
{
public:
    enum class EFound
    {
        // The entry is kept.
        Kept,
        // A link on the way is kept in its place (shown names the link).
        LinkOnTheWay,
        // There is no such entry.
        Missing,
    };
    struct CFinding
    {
        // The kept path as given, and the entry kept, as the listing names it.
        CFilePath path;
        CFilePath shown;
        EFound found = EFound::Missing;
    };

    CKeptEntries() = default;
    // Finds the paths inside the target. Throws CTavException when a folder on the way cannot be
    // listed or changes while it is followed: only "not found" means a kept entry is missing.
    static CKeptEntries find(const CDeletionTarget& target, const std::vector<CFilePath>& paths,
                             std::vector<CFinding>& findings);

    bool empty() const { return m_onTheWay.empty(); }
    // The names kept in the folder with this id; null when it has none (the common case, so a walk
    // asks once per folder, not per entry).
    const std::vector<CKeptName>* keptIn(std::uint64_t folderId) const;
    // True for a folder on the way to a kept entry: it stays.
    bool isOnTheWay(std::uint64_t folderId) const { return m_onTheWay.count(folderId) != 0; }
    // True when the listed entry is one of the kept names of its folder: the same name and, where
    // the listing has ids, the same id.
    static bool keeps(const std::vector<CKeptName>& names, const WinAPI::DirectoryEntry& entry);

private:
    void add(std::uint64_t folderId, const WinAPI::DirectoryEntry& entry, const std::vector<std::uint64_t>& way);

    std::unordered_map<std::uint64_t, std::vector<CKeptName>> m_names;
    std::unordered_set<std::uint64_t> m_onTheWay;
};
