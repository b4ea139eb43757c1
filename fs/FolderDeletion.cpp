// Removing a folder tree (or one file), collecting every failure.
//
// The promise: nothing outside the named entry is deleted or changed, whatever others do in the
// tree while the walk runs. So no path is resolved twice. The entry's parent is opened once by
// path; from then on every entry is opened by its single name relative to its folder's open
// handle, without following a link at that name, and deleted only through that handle. A folder
// is entered only when its handle shows a folder that is no link and the same entry (file id) the
// listing showed; an entry that changed between listing and opening is removed as a link or
// reported, never entered. Only name surrogates (symbolic links, junctions, mount points) are
// links, and they are removed themselves; other reparse points (cloud placeholders, deduplicated
// files) are the user's data and go as what they are. Where the platform follows links whatever
// it is asked (Wine), a handle counts only when its resolved name is its folder's plus the listed
// name (compared without trailing dots and blanks, which the platform drops from resolved names);
// links found that way are reported and left, with their targets untouched, while an entry that
// fails the check because someone else deleted it meanwhile (it is no longer listed) is no failure. A folder that
// another process holds without delete sharing (as its current directory, say) is opened without
// delete access, checked the same way and emptied; only its removal fails, and names the holder.
//
// The cost per entry is flat: one open, one delete, one close. Names are never looked up again.
// Only a folder that is "not empty" after a pass without failures (another deleter still at
// work, a deleted file still held open) is listed again, and for a bounded time waited for.
//
// Several threads share the walk (fs/WorkerPool.h): a worker hands a subfolder, or the front of a
// long batch of a folder's entries, to another worker that waits for work, and does everything
// else itself. Nothing else changes: the part handed off is opened and checked exactly as above,
// through the folder's handle, which stays open until every part is back. A folder is removed only
// once all its parts are done. With one worker the walk is the plain loop.
//
// Names are handed to Windows verbatim, so a trailing dot or blank, device names such as NUL and
// paths beyond 260 characters are deleted too; messages show the normal form.
//
// The pieces: the state the workers share and the folder being emptied (fs/WalkState.h), taking
// one entry (fs/EntryTaking.cpp), the failure lists (fs/FailureList.h, and fs/FolderFailures.h for
// their order while parts are away), the workers (fs/WorkerPool.h).
//
// A folder throws one exception listing every failure inside it, one per line, with the code of
// the last one; a parent lists a failed subfolder by that exception's full text, so lists nest.
// A part handed off collects the lines its folder would have collected and keeps its place in the
// folder's list until it is joined, so the list is the same whatever number of workers.
//
// With a deferral (the option for entries in use), an open or a delete that fails because
// something holds the entry is tried again while the run's retry time lasts; a file that stays in
// use is then moved aside through the very handle that passed the checks above, never a new one.
//
// Kept entries (fs/KeptEntries.h) are known by the id of the folder they lie in, their listed name
// and their own id, all found before the walk. A folder asks once whether it holds any, so an entry
// costs nothing more unless its folder does; a kept entry is never opened, a folder on the way to
// one is emptied of everything else and stays. Parts handed off carry their folder's kept names.
//
// The dry walk is the same walk with the same opens and checks, in the same order and on the same
// workers, but each entry is opened without the right to change it and closed again: no delete, no
// attribute change, no move, no retry, and the log is not moved out of the target. It counts what
// would go and lists what would fail, one line per entry (its lists do not nest): a folder is
// counted when nothing inside it stays and it opens for its removal.

#include "fs/FolderDeletion.h"

#include "fs/EntryTaking.h"
#include "fs/FailureList.h"
#include "fs/FolderFailures.h"
#include "fs/InUseDeferral.h"
#include "fs/LeaveFolder.h"
#include "fs/Place.h"
#include "fs/ResolvedName.h"
#include "fs/WalkState.h"
#include "fs/WorkerPool.h"
#include "win/Deadline.h"
#include "win/EntryCalls.h"
#include "win/FileCalls.h"
#include "win/Lock.h"
#include "win/SystemCalls.h"
#include "win/TavException.h"
#include "win/Thread.h"

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <memory>
#include <optional>
#include <vector>

namespace
{
using WinAPI::DirectoryEntry;
using WinAPI::EntryKind;

// How long a folder whose entries are all deleted may stay "not empty" (and a deleted file stay
// visible) because others still hold what was deleted.
constexpr ULONGLONG kLingerWaitMs = 3000;
// The workers of a walk unless the caller says otherwise: two per processor, at most eight. A
// worker spends much of its time waiting for the file system (under Wine for its server, which
// serves one call at a time); under Wine on two processors, four workers beat two.
constexpr unsigned kWorkersPerProcessor = 2;
constexpr unsigned kMaxWorkers = 8;
// A batch of a folder's entries is shared with waiting workers in parts of at least this many.
constexpr std::size_t kMinShare = 32;

CFailureList walkFolder(CWalk& walk, CPoolWorker* self, CFolderLevel top);

// Entries of a folder that another worker takes. It collects the lines the folder would have
// collected for them.
class CEntriesTask : public CPartTask
{
public:
    CEntriesTask(CWalk& walk, CFolderLevel entries) : m_walk(walk), m_entries(std::move(entries)) {}

protected:
    void run(CPoolWorker& self) override { failures = walkFolder(m_walk, &self, std::move(m_entries)); }

private:
    CWalk& m_walk;
    CFolderLevel m_entries;
};

// Removes a folder whose pass is over. False when it is to be listed again first: it is not empty
// although nothing inside failed. A folder on the way to a kept entry stays. A dry walk counts a
// folder that would go: nothing inside it would stay, and it opens for its removal.
bool removeFolder(CWalk& walk, CFolderLevel& level)
{
    level.reader.reset();
    if (level.onTheWay)
    {
        return true;
    }
    if (walk.dry)
    {
        if (!level.failures.all().any())
        {
            try
            {
                if (WinAPI::reopenFolder(level.handle.get(), WinAPI::FolderUse::CheckRemoval, level.shown).isValid())
                {
                    ++walk.dry->folders;
                }
            }
            catch (const CTavException& error)
            {
                level.failures.add(error);
            }
        }
        return true;
    }
    try
    {
        const CUniqueFile folder = WinAPI::reopenFolder(level.handle.get(), WinAPI::FolderUse::Remove, level.shown);
        if (folder.isValid())
        {
            WinAPI::deleteOpenEntry(folder.get(), EntryKind::Folder, level.shown);
        }
        return true;
    }
    catch (const CTavException& error)
    {
        if (error.errorCode == ERROR_DIR_NOT_EMPTY && !level.failures.all().any())
        {
            if (!level.relistUntil)
            {
                level.relistUntil.emplace(kLingerWaitMs);
            }
            else if (!level.relistUntil->pause(5))
            {
                level.failures.add(error);
                return true;
            }
            level.startPass();
            return false;
        }
        level.failures.add(error);
        return true;
    }
}

void observe(CWalk& walk, const CFilePath& entry)
{
    if (walk.beforeOpening)
    {
        CLock::CScope lock(walk.observerLock);
        walk.beforeOpening(entry);
    }
}

// Hands entries [first, last) of the level to a waiting worker; false when none took them.
bool handOff(CWalk& walk, CFolderLevel& level, std::size_t first, std::size_t last)
{
    if (walk.pool == nullptr || !walk.pool->anyWaiting())
    {
        return false;
    }
    return level.failures.handOff(*walk.pool, std::make_unique<CEntriesTask>(walk, level.part(first, last)));
}

// A folder with many entries is shared: while workers wait for work, the front of what is left of
// the batch goes to them in parts; the rest stays with this worker.
void shareBatch(CWalk& walk, CFolderLevel& level)
{
    while (walk.pool != nullptr)
    {
        const std::size_t left = level.batch.size() - level.next;
        const std::size_t waiting = walk.pool->waitingCount();
        if (waiting == 0 || left < 2 * kMinShare)
        {
            return;
        }
        const std::size_t share = std::max(kMinShare, left / (waiting + 1));
        if (!handOff(walk, level, level.next, level.next + share))
        {
            return;
        }
        level.next += share;
    }
}

// Takes the level's next entry: deletes it, hands it off, or enters it.
void takeNext(CWalk& walk, std::vector<CFolderLevel>& levels)
{
    CFolderLevel& level = levels.back();
    const DirectoryEntry& entry = level.batch[level.next++];
    if (level.keptHere != nullptr && CKeptEntries::keeps(*level.keptHere, entry))
    {
        return;
    }
    // The batch's last folder stays: this worker would only wait for it.
    if (kindOf(entry) == EntryKind::Folder && level.next < level.batch.size() &&
        handOff(walk, level, level.next - 1, level.next))
    {
        return;
    }
    const CFilePath shown = CFilePath::combine(level.shown, entry.name);
    try
    {
        observe(walk, shown);
        bool lingers = false;
        std::optional<CFolderLevel> inner = takeEntry(walk, level.folder(), level.resolvedName, entry, shown, lingers);
        if (inner)
        {
            // From here on level may have moved.
            levels.push_back(std::move(*inner));
        }
    }
    catch (const CTavException& error)
    {
        level.failures.add(error);
    }
}

// Empties the folder of top (or takes the entries of a part) and returns the failures collected at
// its level: for a folder, its removal's included. Walks with a stack of its own instead of
// recursion, so no depth of folders (the long path form allows thousands) can exhaust the thread's
// stack.
CFailureList walkFolder(CWalk& walk, CPoolWorker* self, CFolderLevel top)
{
    std::vector<CFolderLevel> levels;
    levels.push_back(std::move(top));
    for (;;)
    {
        CFolderLevel& level = levels.back();
        if (level.next < level.batch.size() || level.readBatch())
        {
            shareBatch(walk, level);
            takeNext(walk, levels);
            continue;
        }
        level.failures.joinParts(self);
        if (!level.isPart() && !removeFolder(walk, level))
        {
            continue;
        }
        CFailureList failures = level.failures.takeAll();
        levels.pop_back();
        if (levels.empty())
        {
            return failures;
        }
        if (failures.any() && walk.dry)
        {
            levels.back().failures.add(failures);
        }
        else if (failures.any())
        {
            levels.back().failures.add(failures.error());
        }
    }
}

// A deleted file that others still hold open stays listed: wait for it, but not forever.
void waitUntilGone(const CDeletionTarget& target)
{
    const CDeadline deadline(kLingerWaitMs);
    DirectoryEntry listed;
    while (WinAPI::findEntry(target.folder(), target.entry().name, listed, target.shown()))
    {
        if (!deadline.pause(5))
        {
            throw CTavException(ERROR_TIMEOUT, WinAPI::entryFailure(EntryKind::File, target.shown()));
        }
    }
}

}  // namespace

void deleteCompletely(const CFilePath& path, const EntryObserver& beforeOpening, CInUseDeferral* deferral,
                      unsigned workers)
{
    if (const std::optional<CDeletionTarget> target = CDeletionTarget::find(path))
    {
        deleteCompletely(*target, beforeOpening, deferral, workers);
    }
}

namespace
{
// Walks the target: the failures inside a folder come back, a failure of the target itself throws.
CFailureList walkTarget(CWalk& walk, const CDeletionTarget& target, unsigned workers)
{
    leaveFolder(target.place());
    walk.lookAlikes = target.lookAlikes();
    walk.targetShown = target.shown().size();
    if (walk.beforeOpening)
    {
        walk.beforeOpening(target.shown());
    }
    // The entry itself is taken like every entry inside it: through its folder's handle.
    bool lingers = false;
    std::optional<CFolderLevel> folder =
        takeEntry(walk, target.folder(), target.folderName(), target.entry(), target.shown(), lingers);
    if (folder)
    {
        if (workers == 0)
        {
            workers = std::min(WinAPI::getProcessorCount() * kWorkersPerProcessor, kMaxWorkers);
        }
        std::optional<CWorkerPool> pool;
        if (workers > 1)
        {
            pool.emplace(workers);
        }
        walk.pool = pool ? &*pool : nullptr;
        return walkFolder(walk, pool ? &pool->caller() : nullptr, std::move(*folder));
    }
    if (lingers)
    {
        waitUntilGone(target);
    }
    return CFailureList();
}

}  // namespace

void deleteCompletely(const CDeletionTarget& target, const EntryObserver& beforeOpening, CInUseDeferral* deferral,
                      unsigned workers, const CKeptEntries* kept)
{
    CWalk walk(beforeOpening, deferral, kept, nullptr);
    walkTarget(walk, target, workers).throwIfAny();
}

CDeletionForecast forecastDeletion(const CDeletionTarget& target, const CKeptEntries* kept, unsigned workers,
                                   const EntryObserver& beforeOpening)
{
    CDryCount count;
    CWalk walk(beforeOpening, nullptr, kept, &count);
    CFailureList failures;
    try
    {
        failures = walkTarget(walk, target, workers);
    }
    catch (const CTavException& error)
    {
        failures.add(error);
    }
    CDeletionForecast forecast;
    forecast.files = count.files;
    forecast.folders = count.folders;
    forecast.bytes = count.bytes;
    for (const CFailureList::CRecord& record : failures.records())
    {
        forecast.failures.push_back(record.text());
    }
    return forecast;
}
