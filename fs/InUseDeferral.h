#pragma once

#include "fs/FilePath.h"
#include "fs/InUseRetry.h"
#include "win/Lock.h"
#include "win/TavException.h"
#include "win/UniqueHolder.h"

#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// True for the failures of a delete that say something else holds the entry: a sharing
// violation or lock, or access denied once the read-only attribute is out of the way (a running
// program, a loaded library, a mapped file, a pending delete).
bool isInUse(std::uint32_t error);

// What a deferral tells its caller, as it happens (the log lives above this layer).
class CDeferralListener
{
public:
    virtual ~CDeferralListener() = default;
    // An entry in use now waits under its new name for the next restart.
    virtual void moved(const CFilePath& from, const CFilePath& to) = 0;
    // Nothing can be moved aside in this run; told once, with the reason.
    virtual void unavailable(const CTavException& reason) = 0;
};

// Moving entries that are in use out of the tree being deleted, so that the tree's folders can go
// now and those entries at the next restart.
//
// An entry that something holds (a loaded library, a running program) is renamed through its
// own open handle to a unique name in a hidden folder of this program's own at the root of the
// target's volume, and that folder is shared by all runs. The guarantees, and how they are kept:
// - Nothing is moved that is not also deleted at the restart: the new name is added to the
//   restart's deletions first (CRestartList: written by this program and read back), and only once
//   the list is confirmed to hold it is the entry renamed. A list that cannot take the name
//   without another entry changing (another type, a broken list), or a write that is not
//   confirmed, leaves the list as it was; then nothing more is moved in the run, the listener hears why, once, and
//   the entry is reported as without deferral, with its own error. A failed rename leaves just a
//   deletion of a name in the own folder, which is harmless. A read-only file loses the attribute
//   first (the restart does not delete it otherwise); a file with further names, whose attribute
//   they share, is not moved, nor is this program's own file (its final deleter removes it).
// - The folder's own deletion always follows the deletion of the last entry moved into it: each
//   entry's name is added together with the folder's, which moves to the end of the list (Windows
//   works through the list in order and removes a folder only once it is empty). So the restart
//   removes the folder however the run ended once its first name was added. When the run ends, the list is read again; names of
//   this run that another program dropped meanwhile are added again (unconfirmedCount() counts
//   those that could not be).
// - Only when the process may add such deletions at all and the list can take them (checked once,
//   before the first retry); otherwise the listener hears why, once, and entries are reported as
//   without deferral. The folder is made only when the first entry is about to be moved and the list
//   can take it, and a folder this run made and moved nothing into is removed again when the run
//   ends.
// - Never into the target and never to another volume: the folder must not be the target, it is
//   opened without following a reparse point and must be a plain folder (where the platform
//   follows links, its resolved name must be the volume root's plus its own), it is held open
//   without delete sharing (so its name cannot be swapped for a link while entries are moved into
//   it), entries are renamed into the held folder itself, not into a path, and an entry whose
//   volume serial differs from the folder's is not moved. Where the platform renames by path
//   anyway (Wine) and an entry lands elsewhere, the folder's deletion leaves the list again.
// - Only into a folder that nobody else could have prepared: it is made owned by the
//   administrators, and an existing one is used only when the system or the administrators own
//   it. Wine keeps no owners (every folder shows its Unix owner, the process's user for the
//   server's own), so there the process's user counts as well.
// - Runs take turns (CRestartListTurn) at the list and at making and removing the folder.
// The workers of a walk share one deferral: entries are moved aside one at a time, and the
// listener hears from one of them at a time.
class CInUseDeferral
{
public:
    static constexpr const wchar_t* kFolderName = L"$TidewellDeferred";

    // target: the path of the tree being deleted.
    CInUseDeferral(const CFilePath& target, CDeferralListener& listener);

    // True when entries can be moved aside in this run: the rights and the target's volume,
    // checked at the first call only.
    bool available();
    // The retry time of the run, for holders that are only passing.
    CInUseRetry& retry() { return m_retry; }
    // True when the entry is this program's own file, which is never moved.
    bool isOwnImage(HANDLE entry) const;
    // Moves the entry, open with DELETE and FILE_WRITE_ATTRIBUTES access, aside and has it deleted
    // at the next restart. False when deferral is not available (the folder could not be made or
    // is not safe, the restart's list cannot take the name: the listener is told once) or the entry
    // is never moved (further names, this program's file); throws when this entry cannot be moved.
    // Nothing was moved in these cases.
    bool moveAside(HANDLE entry, const CFilePath& shown);
    // Lets the folder go; nothing is moved after it. Confirms that the restart's list still deletes
    // every entry moved in this run, and the folder after them, and adds what another program
    // dropped; removes the folder when this run made it and moved nothing into it. Throws when that
    // fails: unconfirmedCount() then tells how many moved entries the list is not known to hold (all
    // of them when it could not even be read).
    void finish();

    std::size_t movedCount() const { return m_movedNames.size(); }
    std::size_t unconfirmedCount() const { return m_unconfirmed; }
    const CFilePath& folder() const { return m_folder; }

private:
    enum class EState
    {
        unchecked,
        ready,
        unavailable,
        finished
    };

    bool availableLocked();
    void prepare();
    void giveUp(const CTavException& reason);
    void openFolder();
    bool folderReadyLocked();
    std::wstring uniqueName();
    bool renameIntoFolder(HANDLE entry, const std::wstring& message, std::wstring& name, std::wstring& nameAtRestart);
    void checkLanded(HANDLE entry, const CFilePath& shown, const std::wstring& name);
    void confirmMoved();
    void removeFolderIfEmpty();

    CFilePath m_target;
    CDeferralListener& m_listener;
    CInUseRetry m_retry;
    CLock m_lock;
    EState m_state = EState::unchecked;
    CFilePath m_root;
    CFilePath m_folder;
    CUniqueFile m_folderHandle;
    // Made by this run (then removed again when nothing was moved into it).
    bool m_madeFolder = false;
    // The folder's resolved name, where the platform follows links.
    std::wstring m_folderName;
    std::optional<BY_HANDLE_FILE_INFORMATION> m_ownImage;
    DWORD m_volumeSerial = 0;
    // The restart's names of the entries moved in this run.
    std::vector<std::wstring> m_movedNames;
    std::size_t m_unconfirmed = 0;
    std::uint32_t m_names = 0;
};
