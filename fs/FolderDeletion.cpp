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

#include "fs/InUseDeferral.h"
#include "fs/LeaveFolder.h"
#include "fs/Place.h"
#include "fs/ResolvedName.h"
#include "fs/WorkerPool.h"
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

class CFailures
{
public:
    void add(const CTavException& error)
    {
        m_list += error.fullText();
        m_list += L'\n';
        m_lastCode = error.errorCode;
    }

    // The failures of other entries after these.
    void add(const CFailures& later)
    {
        if (later.any())
        {
            m_list += later.m_list;
            m_lastCode = later.m_lastCode;
        }
    }

    bool any() const { return !m_list.empty(); }
    // All failures as one exception: one per line, with the code of the last one.
    CTavException error() const { return CTavException(m_lastCode, m_list); }
    void throwIfAny() const
    {
        if (any())
        {
            throw error();
        }
    }

private:
    std::wstring m_list;
    std::uint32_t m_lastCode = 0;
};

using WinAPI::isLink;

EntryKind kindOf(const DirectoryEntry& entry)
{
    if (isLink(entry.attributes, entry.reparseTag))
    {
        return EntryKind::Link;
    }
    return (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::Folder : EntryKind::File;
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

class CEntriesTask;

// The failures inside one folder in the order of its listing, while parts of its entries are with
// other workers: a part keeps its place, and the failures after it wait behind it.
class CFolderFailures
{
public:
    CFolderFailures() = default;
    CFolderFailures(CFolderFailures&&) = default;
    CFolderFailures& operator=(CFolderFailures&&) = delete;
    // An exception passing leaves parts under way: they use the folder's handle, so they are
    // waited for.
    ~CFolderFailures();

    void add(const CTavException& error) { tail().add(error); }
    // The failures of an inner folder, each on its own line (a dry walk's list does not nest).
    void add(const CFailures& inner) { tail().add(inner); }
    // Hands the part to a waiting worker; false (and the part dropped) when none took it.
    bool handOff(CWorkerPool& pool, std::unique_ptr<CEntriesTask> part);
    // Joins every part, in order; each one's failures take its place.
    void joinParts(CPoolWorker* self);
    // All failures; complete once the parts are joined.
    const CFailures& all() const { return m_settled; }
    CFailures takeAll() { return std::move(m_settled); }

private:
    struct CPart
    {
        std::unique_ptr<CEntriesTask> task;
        CFailures after;
    };

    CFailures& tail() { return m_parts.empty() ? m_settled : m_parts.back().after; }
    // Takes in the parts that are done, so that only parts under way keep a place.
    void settleFinished();

    CFailures m_settled;
    std::vector<CPart> m_parts;
    CWorkerPool* m_pool = nullptr;
};

// One folder being emptied: its handle, the current pass over its entries, the failures inside.
// Or a part of a folder's entries that another worker takes: it borrows the folder's handle and
// names, has its entries as its only batch, and is not removed at its end.
struct CFolderLevel
{
    CFilePath shown;
    CSharedHandle handle;
    HANDLE borrowed = nullptr;
    // The folder's resolved name, where the platform follows links.
    std::wstring resolvedName;
    WinAPI::CEntryReader reader;
    std::vector<DirectoryEntry> batch;
    std::size_t next = 0;
    CFolderFailures failures;
    // Set when the folder is first found not empty after a pass without failures.
    ULONGLONG relistUntil = 0;
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

CFailures walkFolder(CWalk& walk, CPoolWorker* self, CFolderLevel top);

// Entries of a folder that another worker takes. It collects the lines the folder would have
// collected for them.
class CEntriesTask : public CPoolTask
{
public:
    CEntriesTask(CWalk& walk, CFolderLevel entries) : m_walk(walk), m_entries(std::move(entries)) {}

    CFailures failures;

protected:
    void run(CPoolWorker& self) override { failures = walkFolder(m_walk, &self, std::move(m_entries)); }

private:
    CWalk& m_walk;
    CFolderLevel m_entries;
};

CFolderFailures::~CFolderFailures()
{
    for (const CPart& part : m_parts)
    {
        m_pool->waitFor(*part.task);
    }
}

bool CFolderFailures::handOff(CWorkerPool& pool, std::unique_ptr<CEntriesTask> part)
{
    settleFinished();
    // Its place is made first: once handed off, the part must not be lost to a failed allocation.
    m_parts.push_back(CPart{std::move(part), {}});
    if (!pool.handOff(*m_parts.back().task))
    {
        m_parts.pop_back();
        return false;
    }
    m_pool = &pool;
    return true;
}

void CFolderFailures::settleFinished()
{
    std::size_t kept = 0;
    for (std::size_t i = 0; i < m_parts.size(); ++i)
    {
        CPart& part = m_parts[i];
        if (part.task->finished() && !part.task->failed())
        {
            CFailures& before = kept == 0 ? m_settled : m_parts[kept - 1].after;
            before.add(part.task->failures);
            before.add(part.after);
        }
        else
        {
            if (kept != i)
            {
                m_parts[kept] = std::move(part);
            }
            ++kept;
        }
    }
    m_parts.erase(m_parts.begin() + static_cast<std::ptrdiff_t>(kept), m_parts.end());
}

void CFolderFailures::joinParts(CPoolWorker* self)
{
    while (!m_parts.empty())
    {
        CPart& part = m_parts.front();
        m_pool->join(*self, *part.task);
        m_settled.add(part.task->failures);
        m_settled.add(part.after);
        m_parts.erase(m_parts.begin());
    }
}

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

// Deletes one entry of an open folder, or opens it for walking when it is a folder to enter. A dry
// walk opens the entry the same way, but without the right to change it, checks it the same way
// and counts it instead of deleting it. lingers: the deleted name stays until others let go of the
// entry.
std::optional<CFolderLevel> takeEntry(CWalk& walk, HANDLE folder, const std::wstring& folderName,
                                      const DirectoryEntry& entry, const CFilePath& shown, bool& lingers)
{
    const EntryKind kind = kindOf(entry);
    std::optional<CInUseRetry::CEntry> retry;
    CSharedHandle handle;
    // Set when another process holds the folder without delete sharing: the open with delete access
    // failed so. What is inside can still go; its removal then reports the holder.
    std::optional<CTavException> held;
    try
    {
        handle = retryInUse(walk.deferral, retry, [&] {
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
        held = error;
        try
        {
            handle = WinAPI::openFolderToEmpty(folder, entry.name, shown);
        }
        catch (const CTavException&)
        {
            // Not even listing is allowed (the holder shares no reading, say): the holder is the
            // reason to report.
            throw error;
        }
    }
    if (!handle.isValid())
    {
        return std::nullopt;  // gone already
    }
    // A link goes as itself, never entered; a dry walk counts it as what the listing shows.
    const auto takeLink = [&] {
        if (walk.dry)
        {
            ++((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? walk.dry->folders : walk.dry->files);
            return;
        }
        lingers = !WinAPI::deleteOpenEntry(handle.get(), EntryKind::Link, shown);
    };
    WinAPI::EntryFacts facts;
    if (kind == EntryKind::Link)
    {
        // A handle that is no link is the link's target (the platform followed it) or an entry that
        // replaced the link: deleting through it could reach outside the tree.
        facts = WinAPI::queryEntry(handle.get(), kind, shown);
        if (!isLink(facts.attributes, facts.reparseTag))
        {
            throw CTavException(ERROR_NOT_A_REPARSE_POINT, WinAPI::entryFailure(kind, shown));
        }
        takeLink();
        return std::nullopt;
    }
    if (kind == EntryKind::Folder)
    {
        facts = WinAPI::queryEntry(handle.get(), kind, shown);
        if (isLink(facts.attributes, facts.reparseTag))
        {
            // Replaced by a link after the listing: it goes as a link, when it can go at all.
            if (held)
            {
                throw *held;
            }
            takeLink();
            return std::nullopt;
        }
        if (entry.fileId != 0 && facts.fileId != entry.fileId)
        {
            // Not the folder the listing showed: swapped, or a link the platform followed.
            throw CTavException(ERROR_FILE_INVALID, WinAPI::entryFailure(kind, shown));
        }
    }
    std::wstring resolvedName;
    if (WinAPI::platformFollowsLinks())
    {
        if (!resolvesInto(handle.get(), folder, folderName, entry, kind, shown, resolvedName))
        {
            return std::nullopt;  // deleted by someone else meanwhile
        }
        // A link into a folder whose name differs from one on the way only by trailing dots and
        // blanks passes the name check: only the identity of the entry there tells.
        if (isLookAlike(handle.get(), walk.lookAlikes, shown.substr(walk.targetShown)))
        {
            throw CTavException(ERROR_CANT_RESOLVE_FILENAME, WinAPI::entryFailure(kind, shown));
        }
    }
    if (kind == EntryKind::File)
    {
        if (walk.dry)
        {
            ++walk.dry->files;
            walk.dry->bytes += entry.size;
            return std::nullopt;
        }
        lingers = !deleteOpenFile(handle.get(), shown, walk.deferral, retry);
        return std::nullopt;
    }
    CFolderLevel level;
    level.shown = shown;
    level.handle = std::move(handle);
    level.resolvedName = std::move(resolvedName);
    if (walk.kept != nullptr)
    {
        level.keptHere = walk.kept->keptIn(facts.fileId);
        level.onTheWay = walk.kept->isOnTheWay(facts.fileId);
    }
    level.startPass();
    return level;
}

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
        const CSharedHandle folder = WinAPI::reopenFolder(level.handle.get(), WinAPI::FolderUse::Remove, level.shown);
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
            const ULONGLONG now = ::GetTickCount64();
            if (level.relistUntil == 0)
            {
                level.relistUntil = now + kLingerWaitMs;
            }
            else if (now < level.relistUntil)
            {
                ::Sleep(5);
            }
            else
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
CFailures walkFolder(CWalk& walk, CPoolWorker* self, CFolderLevel top)
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
        const CFailures failures = level.failures.takeAll();
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
    const ULONGLONG deadline = ::GetTickCount64() + kLingerWaitMs;
    DirectoryEntry listed;
    while (WinAPI::findEntry(target.folder(), target.entry().name, listed, target.shown()))
    {
        if (::GetTickCount64() >= deadline)
        {
            throw CTavException(ERROR_TIMEOUT, WinAPI::entryFailure(EntryKind::File, target.shown()));
        }
        ::Sleep(5);
    }
}

void clearReadOnly(const std::wstring& path, DWORD attributes)
{
    for (int round = 0; round < 1000 && (attributes & FILE_ATTRIBUTE_READONLY) != 0; ++round)
    {
        ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
        attributes = ::GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
        {
            return;
        }
        if ((attributes & FILE_ATTRIBUTE_READONLY) != 0)
        {
            ::Sleep(2);
        }
    }
}
}  // namespace

void deleteFileForced(const CFilePath& file)
{
    const DWORD attributes = ::GetFileAttributesW(file.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES && !file.exists())
    {
        return;
    }
    clearReadOnly(file, attributes == INVALID_FILE_ATTRIBUTES ? 0 : attributes);
    WinAPI::deleteFile(file);
}

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
CFailures walkTarget(CWalk& walk, const CDeletionTarget& target, unsigned workers)
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
    return CFailures();
}

// The lines of a failure list.
std::vector<std::wstring> linesOf(const std::wstring& list)
{
    std::vector<std::wstring> lines;
    std::size_t begin = 0;
    while (begin < list.size())
    {
        const std::size_t end = std::min(list.find(L'\n', begin), list.size());
        lines.push_back(list.substr(begin, end - begin));
        begin = end + 1;
    }
    return lines;
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
    CFailures failures;
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
    forecast.failures = linesOf(failures.any() ? failures.error().message : std::wstring());
    return forecast;
}
