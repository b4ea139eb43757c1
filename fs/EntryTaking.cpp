#include "fs/EntryTaking.h"

#include "fs/InUseDeferral.h"
#include "fs/ResolvedName.h"
#include "win/EntryCalls.h"
#include "win/TavException.h"

#include <optional>

namespace
{
using WinAPI::DirectoryEntry;
using WinAPI::EntryKind;

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

// Where the platform follows links: true when the open entry's resolved name is its folder's plus
// its listed name, and resolvedName is then the name its own entries resolve under. An entry that
// fails the check is a link to somewhere else, or an entry that someone else deleted meanwhile (the
// platform then names the handle as it likes): the latter is no failure (false), the former throws.
bool resolvesInto(HANDLE entry, HANDLE folder, const std::wstring& folderName, const DirectoryEntry& listed,
                  EntryKind kind, const CFilePath& shown, std::wstring& resolvedName)
{
    try
    {
        const std::wstring resolved = WinAPI::queryEntryName(entry, kind, shown);
        if (isEntryOf(resolved, folderName, listed.name))
        {
            resolvedName = resolved;
            return true;
        }
    }
    catch (const CTavException&)
    {
        // Unnamed: judged below like a wrong name.
    }
    DirectoryEntry now;
    if (!WinAPI::findEntry(folder, listed.name, now, shown))
    {
        return false;
    }
    throw CTavException(ERROR_CANT_RESOLVE_FILENAME, WinAPI::entryFailure(kind, shown));
}

// An entry opened to be taken, and what its checks found.
struct COpenedEntry
{
    // Invalid when the entry is gone.
    CUniqueFile handle;
    // Set when another process holds the folder without delete sharing: the open with delete access
    // failed so, and the folder was opened without it. What is inside can still go; its removal then
    // reports the holder.
    std::optional<CTavException> held;
    WinAPI::EntryFacts facts;
    // The entry's resolved name, where the platform follows links.
    std::wstring resolvedName;
};

// Opens the entry of folder with the access taking it needs (a dry walk: without the right to
// change it); with a deferral, an entry in use is tried again while its retry time lasts.
COpenedEntry openToTake(CWalk& walk, HANDLE folder, const DirectoryEntry& entry, EntryKind kind, const CFilePath& shown,
                        std::optional<CInUseRetry::CEntry>& retry)
{
    COpenedEntry opened;
    try
    {
        opened.handle = retryInUse(walk.deferral, retry, [&] {
            return walk.dry ? WinAPI::openEntryToCheck(folder, entry.name, kind, shown)
                            : WinAPI::openEntry(folder, entry.name, kind, shown);
        });
    }
    catch (const CTavException& error)
    {
        if (kind != EntryKind::Folder || error.errorCode != ERROR_SHARING_VIOLATION)
        {
            throw;
        }
        opened.held = error;
        try
        {
            opened.handle = WinAPI::openFolderToEmpty(folder, entry.name, shown);
        }
        catch (const CTavException&)
        {
            // Not even listing is allowed (the holder shares no reading, say): the holder is the
            // reason to report.
            throw error;
        }
    }
    return opened;
}

// What the checks make of an opened entry.
enum class ETake
{
    // The entry the listing showed.
    asListed,
    // A link (or a folder replaced by one after the listing): it goes as itself, never entered.
    asLink,
    // Deleted by someone else meanwhile.
    nothing,
};

// Checks that the opened entry is the one the listing showed, where its name says it lies; throws
// for one that is not (a link's target, an entry swapped in after the listing).
ETake checkOpened(const CWalk& walk, HANDLE folder, const std::wstring& folderName, const DirectoryEntry& entry,
                  EntryKind kind, const CFilePath& shown, COpenedEntry& opened)
{
    if (kind == EntryKind::Link)
    {
        // A handle that is no link is the link's target (the platform followed it) or an entry that
        // replaced the link: deleting through it could reach outside the tree.
        opened.facts = WinAPI::queryEntry(opened.handle.get(), kind, shown);
        if (!isLink(opened.facts.attributes, opened.facts.reparseTag))
        {
            throw CTavException(ERROR_NOT_A_REPARSE_POINT, WinAPI::entryFailure(kind, shown));
        }
        return ETake::asLink;
    }
    if (kind == EntryKind::Folder)
    {
        opened.facts = WinAPI::queryEntry(opened.handle.get(), kind, shown);
        if (isLink(opened.facts.attributes, opened.facts.reparseTag))
        {
            // Replaced by a link after the listing: it goes as a link, when it can go at all.
            if (opened.held)
            {
                throw *opened.held;
            }
            return ETake::asLink;
        }
        if (entry.fileId != 0 && opened.facts.fileId != entry.fileId)
        {
            // Not the folder the listing showed: swapped, or a link the platform followed.
            throw CTavException(ERROR_FILE_INVALID, WinAPI::entryFailure(kind, shown));
        }
    }
    if (WinAPI::platformFollowsLinks())
    {
        if (!resolvesInto(opened.handle.get(), folder, folderName, entry, kind, shown, opened.resolvedName))
        {
            return ETake::nothing;
        }
        // A link into a folder whose name differs from one on the way only by trailing dots and
        // blanks passes the name check: only the identity of the entry there tells.
        if (isLookAlike(opened.handle.get(), walk.lookAlikes, shown.substr(walk.targetShown)))
        {
            throw CTavException(ERROR_CANT_RESOLVE_FILENAME, WinAPI::entryFailure(kind, shown));
        }
    }
    return ETake::asListed;
}

// A link goes as itself; a dry walk counts it as what the listing shows.
void takeLink(CWalk& walk, const DirectoryEntry& entry, HANDLE link, const CFilePath& shown, bool& lingers)
{
    if (walk.dry)
    {
        ++((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? walk.dry->folders : walk.dry->files);
        return;
    }
    lingers = !WinAPI::deleteOpenEntry(link, EntryKind::Link, shown);
}

// The level of a folder to walk, through the handle that passed the checks.
CFolderLevel enterFolder(const CWalk& walk, const CFilePath& shown, COpenedEntry& opened)
{
    CFolderLevel level;
    level.shown = shown;
    level.handle = std::move(opened.handle);
    level.resolvedName = std::move(opened.resolvedName);
    if (walk.kept != nullptr)
    {
        level.keptHere = walk.kept->keptIn(opened.facts.fileId);
        level.onTheWay = walk.kept->isOnTheWay(opened.facts.fileId);
    }
    level.startPass();
    return level;
}

}  // namespace

// Takes one entry of an open folder: opens it, checks it, and deletes it or, for a folder to
// enter, returns its level. A dry walk opens and checks the entry the same way but counts it
// instead of deleting it. lingers: the deleted name stays until others let go of the entry.
std::optional<CFolderLevel> takeEntry(CWalk& walk, HANDLE folder, const std::wstring& folderName,
                                      const DirectoryEntry& entry, const CFilePath& shown, bool& lingers)
{
    const EntryKind kind = kindOf(entry);
    std::optional<CInUseRetry::CEntry> retry;
    COpenedEntry opened = openToTake(walk, folder, entry, kind, shown, retry);
    if (!opened.handle.isValid())
    {
        return std::nullopt;  // gone already
    }
    switch (checkOpened(walk, folder, folderName, entry, kind, shown, opened))
    {
    case ETake::nothing:
        return std::nullopt;
    case ETake::asLink:
        takeLink(walk, entry, opened.handle.get(), shown, lingers);
        return std::nullopt;
    case ETake::asListed:
        break;
    }
    if (kind == EntryKind::Folder)
    {
        return enterFolder(walk, shown, opened);
    }
    if (walk.dry)
    {
        ++walk.dry->files;
        walk.dry->bytes += entry.size;
        return std::nullopt;
    }
    lingers = !deleteOpenFile(opened.handle.get(), shown, walk.deferral, retry);
    return std::nullopt;
}
