#pragma once

#include "win/UniqueHolder.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// Calls on the entries of a folder reached through the folder's open handle: an entry is opened
// by its single name relative to that handle, never by a path from the root, so nothing done to
// the folder's ancestors (renamed, replaced by a link) can redirect it, and a name is never looked
// up twice. Failures throw CTavException naming the logical operation on shownPath:
// "WinAPI::deleteFile(...)" for files, "WinAPI::removeDirectory(...)" for folders and
// "WinAPI::deleteLink(...)" for links. The calls that delete or rename an entry are halt points
// (win/CrashHalt.h): once a crash has begun on another thread, nothing more is deleted.
namespace WinAPI
{
enum class EntryKind
{
    File,
    Folder,
    Link,
};

// One entry as a folder listing reports it.
struct DirectoryEntry
{
    std::wstring name;
    std::uint32_t attributes = 0;
    // With FILE_ATTRIBUTE_REPARSE_POINT: the reparse tag, 0 where the platform reports none.
    std::uint32_t reparseTag = 0;
    // The file system's id of the entry; 0 where it reports none.
    std::uint64_t fileId = 0;
    // The size of a file's data as the listing reports it.
    std::uint64_t size = 0;
};

// What an open handle says of its entry.
struct EntryFacts
{
    std::uint32_t attributes = 0;
    std::uint32_t reparseTag = 0;
    std::uint64_t fileId = 0;
};

// True for a link: a reparse point whose tag is a name surrogate (symbolic link, junction, mount
// point) or whose tag the platform does not report. Other reparse points (cloud placeholders,
// deduplicated files) are the entries they stand for.
bool isLink(std::uint32_t attributes, std::uint32_t reparseTag);

// The failure text of an operation on an entry of this kind.
std::wstring entryFailure(EntryKind kind, const std::wstring& shownPath);

// True where opening a name follows a link at that name whatever the caller asks (Wine follows
// Unix symbolic links and even deletes through them): there only the resolved name of a handle
// tells a link from the entry the listing showed.
bool platformFollowsLinks();

// Opens a folder by its full path (links on the way followed) for opening and finding its
// entries. An invalid holder when it is missing.
// moreAccess: what else the handle may do (FILE_ADD_FILE to create files in it, say).
CUniqueFile openFolder(const std::wstring& path, ACCESS_MASK moreAccess = 0);

// Opens the entry name of folder with delete access, sharing everything, without following a
// link at that name. An invalid holder when the entry is gone or already being deleted.
CUniqueFile openEntry(HANDLE folder, const std::wstring& name, EntryKind kind, const std::wstring& shownPath);

// Opens the subfolder name of folder like openEntry, but without delete access: to empty a folder
// that another process holds without delete sharing (as its current directory, for one).
CUniqueFile openFolderToEmpty(HANDLE folder, const std::wstring& name, const std::wstring& shownPath);

// Opens the entry name of folder like openEntry, with delete access and what the walk asks for
// besides, but without the right to change its attributes: to learn whether the deletion could
// open it, without any means to change it. An invalid holder when the entry is gone.
CUniqueFile openEntryToCheck(HANDLE folder, const std::wstring& name, EntryKind kind, const std::wstring& shownPath);

// What a second handle on a folder is for.
enum class FolderUse
{
    // A fresh pass over its entries (a handle lists a folder only once).
    List,
    // Its removal, with delete access (on Wine a folder's delete succeeds, and silently does
    // nothing, through a handle that listed it).
    Remove,
    // Whether it could be opened for its removal: delete access without the right to change it.
    CheckRemoval,
    // Only its identity: the handle shares everything and keeps no one from anything.
    Identify,
};

// A second handle on the folder itself, with a listing position of its own. An invalid holder
// when the folder is gone.
CUniqueFile reopenFolder(HANDLE folder, FolderUse use, const std::wstring& shownPath);

// The entry of folder called name, by its long or its short name (the file system's comparison),
// as the listing shows it: false when there is none. Any other failure (the folder may not be
// listed, say) throws: it tells nothing about the entry.
bool findEntry(HANDLE folder, const std::wstring& name, DirectoryEntry& entry, const std::wstring& shownPath);
// The same through a listing handle that the caller opened (with FILE_LIST_DIRECTORY) for this
// one search.
bool findListedEntry(HANDLE listing, const std::wstring& name, DirectoryEntry& entry, const std::wstring& shownPath);
// Opens the entry name of folder only to read its attributes, id and name, without following a
// link at that name. An invalid holder when it is not found; any other failure throws.
CUniqueFile openEntryToQuery(HANDLE folder, const std::wstring& name, const std::wstring& shownPath);
// Opens the file name of folder for access (with SYNCHRONIZE) without following a link at that
// name, shared for reading and writing (never for deleting). Without create: an invalid holder when
// it is not found. With create: a new file, failing with ERROR_ALREADY_EXISTS when any entry (a link
// too, even one that leads nowhere) has that name; with deleteOnClose (and DELETE access) the new
// file goes with the handle. Any other failure throws.
CUniqueFile openFileRelative(HANDLE folder, const std::wstring& name, ACCESS_MASK access, bool create,
                             const std::wstring& shownPath, bool deleteOnClose = false);
// How many names the open file has.
std::uint32_t getLinkCount(HANDLE entry, const std::wstring& shownPath);

// Attributes, reparse tag and id of an open entry (a handle with FILE_READ_ATTRIBUTES).
EntryFacts queryEntry(HANDLE entry, EntryKind kind, const std::wstring& shownPath);
// The file system's id of an open entry, through any handle (it takes no access right).
std::uint64_t queryFileId(HANDLE entry, const std::wstring& shownPath);
// The object name of an open entry, as the platform resolved it (Wine: "\??\Z:\dir\file", the
// link's target for a link; Windows: "\Device\...\dir\file").
std::wstring queryEntryName(HANDLE entry, EntryKind kind, const std::wstring& shownPath);

// Deletes the open entry. Where the platform has them: POSIX semantics (the name goes at once) and
// the read-only attribute ignored. Otherwise a classic delete (the name stays until the last
// handle on the entry closes); a read-only attribute is cleared through the handle first and put
// back when the delete fails or when other names of the file outlive this one. True when the name
// is gone at once.
bool deleteOpenEntry(HANDLE entry, EntryKind kind, const std::wstring& shownPath);

// Sets the attributes of an open entry (with FILE_WRITE_ATTRIBUTES); its times stay as they are.
// Returns the error code, 0 on success.
std::uint32_t trySetEntryAttributes(HANDLE entry, std::uint32_t attributes);

// Gives the open entry (with delete access) the single name in the folder held by folder, never
// replacing an entry of that name: the folder is the object behind the handle, not a path looked
// up again. Returns the error code, 0 on success.
std::uint32_t tryRenameInto(HANDLE entry, HANDLE folder, const std::wstring& name);

// Reads the entries of one folder ("." and ".." left out) in batches through one handle, in the
// order the file system returns them. A folder that cannot be listed ends at once.
class CEntryReader
{
public:
    CEntryReader() = default;
    explicit CEntryReader(CUniqueFile listing) : m_listing(std::move(listing)) {}

    // The next batch; false at the end.
    bool next(std::vector<DirectoryEntry>& batch);
    void reset() { m_listing.reset(); }

private:
    CUniqueFile m_listing;
    bool m_started = false;
    bool m_withIds = true;
};
}  // namespace WinAPI
