#pragma once

// What the workers of one folder deletion (fs/FolderDeletion.cpp) share, and the state of one
// folder they empty. Used only by the walk.

#include "fs/EntryObserver.h"
#include "fs/FilePath.h"
#include "fs/FolderFailures.h"
#include "fs/KeptEntries.h"
#include "win/Deadline.h"
#include "win/EntryCalls.h"
#include "win/Lock.h"
#include "win/TavException.h"
#include "win/UniqueHolder.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class CInUseDeferral;

using WinAPI::isLink;

// What the listing shows an entry to be.
inline WinAPI::EntryKind kindOf(const WinAPI::DirectoryEntry& entry)
{
    if (isLink(entry.attributes, entry.reparseTag))
    {
        return WinAPI::EntryKind::Link;
    }
    return (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? WinAPI::EntryKind::Folder : WinAPI::EntryKind::File;
}

// What a dry walk counts: the entries it would remove, and the size of the files among them.
struct CDryCount
{
    std::atomic<std::uint64_t> files{0};
    std::atomic<std::uint64_t> folders{0};
    std::atomic<std::uint64_t> bytes{0};
};

// What every worker of one walk shares.
struct CWalk
{
    CWalk(const EntryObserver& observer, CInUseDeferral* inUse, const CKeptEntries* keep, CDryCount* dryCount)
        : beforeOpening(observer), deferral(inUse), kept(keep && !keep->empty() ? keep : nullptr), dry(dryCount)
    {
    }

    const EntryObserver& beforeOpening;
    CInUseDeferral* deferral;
    // None when nothing is kept.
    const CKeptEntries* kept;
    // Set for a dry walk, which changes nothing and counts instead.
    CDryCount* dry;
    // None for a walk on one thread.
    CWorkerPool* pool = nullptr;
    // Where links cannot be told from entries by their names alone: the places that look alike to
    // the target (lookAlikesOf), and the length of the target's shown path, which every entry's
    // shown path begins with.
    std::vector<std::wstring> lookAlikes;
    std::size_t targetShown = 0;
    // The observer is called by one worker at a time.
    CLock observerLock;
};

// One folder being emptied: its handle, the current pass over its entries, the failures inside.
// Or a part of a folder's entries that another worker takes: it borrows the folder's handle and
// names, has its entries as its only batch, and is not removed at its end.
struct CFolderLevel
{
    CFilePath shown;
    CUniqueFile handle;
    HANDLE borrowed = nullptr;
    // The folder's resolved name, where the platform follows links.
    std::wstring resolvedName;
    WinAPI::CEntryReader reader;
    std::vector<WinAPI::DirectoryEntry> batch;
    std::size_t next = 0;
    CFolderFailures failures;
    // Set when the folder is first found not empty after a pass without failures: until then it is
    // listed again.
    std::optional<CDeadline> relistUntil;
    // The entries of this folder that stay; null when none do.
    const std::vector<CKeptName>* keptHere = nullptr;
    // The folder lies on the way to a kept entry: it stays.
    bool onTheWay = false;

    bool isPart() const { return borrowed != nullptr; }
    // The handle its entries are opened through.
    HANDLE folder() const { return isPart() ? borrowed : handle.get(); }

    // Entries [first, last) of this folder's batch as a part.
    CFolderLevel part(std::size_t first, std::size_t last) const
    {
        CFolderLevel entries;
        entries.shown = shown;
        entries.borrowed = folder();
        entries.resolvedName = resolvedName;
        entries.keptHere = keptHere;
        entries.batch.assign(batch.begin() + static_cast<std::ptrdiff_t>(first),
                             batch.begin() + static_cast<std::ptrdiff_t>(last));
        return entries;
    }

    // A pass reads the folder through a handle of its own: a handle lists a folder only once.
    void startPass()
    {
        batch.clear();
        next = 0;
        try
        {
            reader = WinAPI::CEntryReader(WinAPI::reopenFolder(handle.get(), WinAPI::FolderUse::List, shown));
        }
        catch (const CTavException&)
        {
            // A folder that cannot be listed has no entries to offer; its removal tells what is left.
            reader = WinAPI::CEntryReader();
        }
    }

    // Reads batches until one has entries; false at the end of the pass.
    bool readBatch()
    {
        next = 0;
        while (reader.next(batch))
        {
            if (!batch.empty())
            {
                return true;
            }
        }
        return false;
    }
};
