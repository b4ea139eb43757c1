#include "fs/InUseDeferral.h"

#include "fs/ResolvedName.h"
#include "fs/RestartList.h"
#include "fs/SameFile.h"
#include "win/EntryCalls.h"
#include "win/FileCalls.h"
#include "win/MoveCalls.h"
#include "win/ProcessCalls.h"
#include "win/RestartCalls.h"

#include <algorithm>
#include <cstdio>

namespace
{
// Owned by the administrators; only the system and administrators may change the folder or what
// is moved into it.
constexpr const wchar_t* kFolderSecurity = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
constexpr const wchar_t* kSystemSid = L"S-1-5-18";
constexpr const wchar_t* kAdministratorsSid = L"S-1-5-32-544";
// A few fresh names are enough: a name is taken only by another run at the same instant.
constexpr int kNameAttempts = 16;

// Clears a file's read-only attribute for its life and sets it again, unless kept cleared.
class CWritableWhileMoved
{
public:
    CWritableWhileMoved(HANDLE entry, DWORD attributes, const std::wstring& message)
        : m_entry(entry), m_attributes(attributes)
    {
        if ((attributes & FILE_ATTRIBUTE_READONLY) == 0)
        {
            return;
        }
        if (const std::uint32_t error = WinAPI::trySetEntryAttributes(entry, attributes & ~FILE_ATTRIBUTE_READONLY))
        {
            throw CTavException(error, message);
        }
        m_cleared = true;
    }
    ~CWritableWhileMoved()
    {
        if (m_cleared)
        {
            WinAPI::trySetEntryAttributes(m_entry, m_attributes);
        }
    }
    CWritableWhileMoved(const CWritableWhileMoved&) = delete;
    CWritableWhileMoved& operator=(const CWritableWhileMoved&) = delete;

    // The file stays writable.
    void keep() { m_cleared = false; }

private:
    HANDLE m_entry;
    DWORD m_attributes;
    bool m_cleared = false;
};
}  // namespace

bool isInUse(std::uint32_t error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
}

CInUseDeferral::CInUseDeferral(const CFilePath& target, CDeferralListener& listener)
    : m_target(target), m_listener(listener)
{
    // Read once, before any worker asks.
    try
    {
        const std::wstring own = WinAPI::getModuleFileName();
        m_ownImage = WinAPI::getFileInformationByHandle(WinAPI::openToIdentify(own).get(), own);
    }
    catch (const CTavException&)
    {
        // Then no entry is taken for the program's own file.
    }
}

bool CInUseDeferral::available()
{
    CLock::CScope lock(m_lock);
    return availableLocked();
}

bool CInUseDeferral::availableLocked()
{
    if (m_state == EState::unchecked)
    {
        try
        {
            prepare();
            m_state = EState::ready;
        }
        catch (const CTavException& reason)
        {
            m_state = EState::unavailable;
            m_listener.unavailable(reason);
        }
    }
    return m_state == EState::ready;
}

void CInUseDeferral::prepare()
{
    WinAPI::checkRestartDeletion();
    CRestartList::read();
    m_target = m_target.absolute();
    if (m_target.isNetworkPath())
    {
        throw CTavException(ERROR_NOT_SUPPORTED,
                            L"Entries on a network share cannot be deleted at restart: " + m_target);
    }
    m_root = WinAPI::getVolumePathName(m_target);
    if (::GetDriveTypeW(m_root.c_str()) == DRIVE_REMOTE)
    {
        throw CTavException(ERROR_NOT_SUPPORTED, L"Entries on a network drive cannot be deleted at restart: " + m_root);
    }
    m_folder = CFilePath::combine(m_root, kFolderName);
    if (isSameFile(m_folder, m_target))
    {
        throw CTavException(ERROR_INVALID_PARAMETER, L"The folder for entries in use is the target: " + m_folder);
    }
}

void CInUseDeferral::giveUp(const CTavException& reason)
{
    m_state = EState::unavailable;
    m_listener.unavailable(reason);
}

void CInUseDeferral::openFolder()
{
    m_folderHandle =
        WinAPI::openPlainFolder(m_folder, kFolderSecurity, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, m_madeFolder);
    using WinAPI::EntryKind;
    // Wine (the platform that follows links) shows a Unix link to a folder as that folder: only
    // its resolved name gives it away. Wine keeps no owners either.
    const bool wine = WinAPI::platformFollowsLinks();
    if (wine)
    {
        m_folderName = WinAPI::queryEntryName(m_folderHandle.get(), EntryKind::Folder, m_folder);
        const CUniqueFile root = WinAPI::openFolder(m_root);
        if (!root.isValid() ||
            !isEntryOf(m_folderName, WinAPI::queryEntryName(root.get(), EntryKind::Folder, m_root), kFolderName))
        {
            throw CTavException(ERROR_CANT_RESOLVE_FILENAME,
                                L"The folder for entries in use leads elsewhere: " + m_folder + L" is " + m_folderName);
        }
    }
    const std::wstring owner = WinAPI::getOwner(m_folderHandle.get(), m_folder);
    if (owner != kSystemSid && owner != kAdministratorsSid && !(wine && owner == WinAPI::getProcessUser()))
    {
        throw CTavException(ERROR_INVALID_OWNER, L"The folder for entries in use belongs to " + owner +
                                                     L", not to the system or the administrators: " + m_folder);
    }
    m_volumeSerial = WinAPI::getFileInformationByHandle(m_folderHandle.get(), m_folder).dwVolumeSerialNumber;
}

std::wstring CInUseDeferral::uniqueName()
{
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    wchar_t name[64];
    std::swprintf(name, sizeof name / sizeof name[0], L"%08lX%08lX-%lX-%X.tmp", now.dwHighDateTime, now.dwLowDateTime,
                  ::GetCurrentProcessId(), ++m_names);
    return name;
}

bool CInUseDeferral::isOwnImage(HANDLE entry) const
{
    if (!m_ownImage)
    {
        return false;
    }
    try
    {
        return isSameEntry(WinAPI::getFileInformationByHandle(entry, m_target), *m_ownImage);
    }
    catch (const CTavException&)
    {
        return false;
    }
}

// The folder opened (and checked) on the first move; false once the deferral has given up.
bool CInUseDeferral::folderReadyLocked()
{
    if (m_folderHandle.isValid())
    {
        return true;
    }
    try
    {
        // No folder is made for a list that cannot take its entries.
        CRestartList::read();
        openFolder();
        return true;
    }
    catch (const CTavException& reason)
    {
        m_folderHandle.reset();
        giveUp(reason);
        return false;
    }
}

// Lists a fresh name in the folder for deletion at restart and renames the entry to it, again with
// another name while the name is taken. False (the deferral given up) when the list cannot be
// written; a rename that fails otherwise throws.
bool CInUseDeferral::renameIntoFolder(HANDLE entry, const std::wstring& message, std::wstring& name,
                                      std::wstring& nameAtRestart)
{
    const std::wstring folderName = restartName(m_folder);
    std::uint32_t error = ERROR_ALREADY_EXISTS;
    for (int attempt = 0; attempt < kNameAttempts && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS);
         ++attempt)
    {
        name = uniqueName();
        nameAtRestart = restartName(CFilePath::combine(m_folder, name));
        try
        {
            CRestartList::update({folderName}, {nameAtRestart, folderName});
        }
        catch (const CTavException& reason)
        {
            giveUp(reason);
            return false;
        }
        error = WinAPI::tryRenameInto(entry, m_folderHandle.get(), name);
    }
    if (error != ERROR_SUCCESS)
    {
        throw CTavException(error, message);
    }
    return true;
}

bool CInUseDeferral::moveAside(HANDLE entry, const CFilePath& shown)
{
    CLock::CScope lock(m_lock);
    if (!availableLocked())
    {
        return false;
    }
    // The read-only attribute cleared below belongs to the file, so it would leave the file's other
    // names as well.
    const BY_HANDLE_FILE_INFORMATION information = WinAPI::getFileInformationByHandle(entry, shown);
    if (information.nNumberOfLinks > 1 || isOwnImage(entry))
    {
        return false;
    }
    std::optional<CRestartListTurn> turn;
    try
    {
        turn.emplace();
    }
    catch (const CTavException& reason)
    {
        giveUp(reason);
        return false;
    }
    if (!folderReadyLocked())
    {
        return false;
    }
    const std::wstring message = L"Moving " + shown + L" aside failed.";
    if (information.dwVolumeSerialNumber != m_volumeSerial)
    {
        throw CTavException(ERROR_NOT_SAME_DEVICE, message);
    }
    // The restart leaves a read-only file where it is; one that stays here gets the attribute back.
    CWritableWhileMoved writable(entry, information.dwFileAttributes, message);
    std::wstring name;
    std::wstring nameAtRestart;
    if (!renameIntoFolder(entry, message, name, nameAtRestart))
    {
        return false;
    }
    writable.keep();
    checkLanded(entry, shown, name);
    m_movedNames.push_back(nameAtRestart);
    m_listener.moved(shown, CFilePath::combine(m_folder, name));
    return true;
}

// Wine renames into the folder by the path it was opened by, so a link put in its place from
// outside Wine redirects the entry: then it is reported where it went, nothing more is moved, and
// the folder's deletion leaves the list (its path leads elsewhere now). Runs with the turn held.
void CInUseDeferral::checkLanded(HANDLE entry, const CFilePath& shown, const std::wstring& name)
{
    if (!WinAPI::platformFollowsLinks())
    {
        return;
    }
    std::wstring landed;
    try
    {
        landed = WinAPI::queryEntryName(entry, WinAPI::EntryKind::File, shown);
    }
    catch (const CTavException&)
    {
        // Not known where it is: as bad as elsewhere.
    }
    if (isEntryOf(landed, m_folderName, name))
    {
        return;
    }
    m_state = EState::unavailable;
    m_folderHandle.reset();
    std::wstring message =
        L"Moving " + shown + L" aside failed: it went to " + landed + L", not into " + m_folder + L".";
    try
    {
        CRestartList::update({restartName(m_folder)}, {});
    }
    catch (const CTavException& error)
    {
        message += L" The folder's deletion at the next restart stays: " + error.message;
    }
    throw CTavException(ERROR_CANT_RESOLVE_FILENAME, message);
}

void CInUseDeferral::finish()
{
    CLock::CScope lock(m_lock);
    if (m_state == EState::finished)
    {
        return;
    }
    m_state = EState::finished;
    if (!m_folderHandle.isValid())
    {
        return;  // never opened, or it led elsewhere
    }
    // Until the list is read back, none of the moved entries is known to be in it still.
    m_unconfirmed = m_movedNames.size();
    const CRestartListTurn turn;
    if (m_movedNames.empty())
    {
        if (m_madeFolder)
        {
            removeFolderIfEmpty();
        }
        m_folderHandle.reset();
        return;
    }
    m_folderHandle.reset();
    confirmMoved();
}

// Another program that read the list before this run's write and wrote it afterwards dropped this
// run's names: they are added again, with the folder after them.
void CInUseDeferral::confirmMoved()
{
    const CRestartList list = CRestartList::read();
    const std::wstring folderName = restartName(m_folder);
    std::vector<std::wstring> missing;
    std::size_t last = 0;
    for (const std::wstring& name : m_movedNames)
    {
        if (const std::optional<std::size_t> at = list.lastDeletion(name))
        {
            last = std::max(last, *at);
        }
        else
        {
            missing.push_back(name);
        }
    }
    const std::optional<std::size_t> folderAt = list.lastDeletion(folderName);
    m_unconfirmed = missing.size();
    if (missing.empty() && folderAt && *folderAt > last)
    {
        return;
    }
    missing.push_back(folderName);
    CRestartList::update({folderName}, missing);
    m_unconfirmed = 0;
}

// Removes the folder this run made when nothing is in it; another run that holds it open, or has
// moved an entry into it, keeps it.
void CInUseDeferral::removeFolderIfEmpty()
{
    using WinAPI::EntryKind;
    const std::uint64_t made = WinAPI::queryEntry(m_folderHandle.get(), EntryKind::Folder, m_folder).fileId;
    const CUniqueFile root = WinAPI::openFolder(m_root);
    m_folderHandle.reset();
    if (!root.isValid())
    {
        return;
    }
    CUniqueFile folder;
    try
    {
        folder = WinAPI::openEntry(root.get(), kFolderName, EntryKind::Folder, m_folder);
    }
    catch (const CTavException& error)
    {
        if (error.errorCode == ERROR_SHARING_VIOLATION)
        {
            return;  // another run holds it
        }
        throw;
    }
    // Only the folder made, never what took its name since (under Wine a link shows as its target).
    if (!folder.isValid() || WinAPI::queryEntry(folder.get(), EntryKind::Folder, m_folder).fileId != made ||
        (WinAPI::platformFollowsLinks() &&
         !isEntryOf(WinAPI::queryEntryName(folder.get(), EntryKind::Folder, m_folder),
                    WinAPI::queryEntryName(root.get(), EntryKind::Folder, m_root), kFolderName)))
    {
        return;
    }
    try
    {
        WinAPI::deleteOpenEntry(folder.get(), EntryKind::Folder, m_folder);
    }
    catch (const CTavException& error)
    {
        if (error.errorCode != ERROR_DIR_NOT_EMPTY)
        {
            throw;
        }
    }
}
