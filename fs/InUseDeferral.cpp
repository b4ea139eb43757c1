#include "fs/InUseDeferral.h"

#include "fs/SameFile.h"
#include "win/FileCalls.h"
#include "win/MoveCalls.h"
#include "win/RestartCalls.h"

#include <cstdio>

namespace
{
// Only the system and administrators may change the folder or what is moved into it.
constexpr const wchar_t* kFolderSecurity = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
// A few fresh names are enough: a name is taken only by another run at the same instant.
constexpr int kNameAttempts = 16;

// The form a rename through a handle needs: "\??\" and the full path.
std::wstring systemForm(const std::wstring& path)
{
    return L"\\??\\" + (path.compare(0, 4, L"\\\\?\\") == 0 ? path.substr(4) : path);
}
}  // namespace

bool isInUse(std::uint32_t error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
}

CInUseDeferral::CInUseDeferral(const CFilePath& target, CDeferralListener& listener)
    : m_target(target), m_listener(listener)
{
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
    m_target = m_target.absolute();
    if (m_target.isNetworkPath())
    {
        throw CTavException(ERROR_NOT_SUPPORTED,
                            L"Entries on a network share cannot be deleted at restart: " + m_target);
    }
    const std::wstring root = WinAPI::getVolumePathName(m_target);
    if (::GetDriveTypeW(root.c_str()) == DRIVE_REMOTE)
    {
        throw CTavException(ERROR_NOT_SUPPORTED, L"Entries on a network drive cannot be deleted at restart: " + root);
    }
    m_folder = CFilePath::combine(root, kFolderName);
    if (isSameFile(m_folder, m_target))
    {
        throw CTavException(ERROR_INVALID_PARAMETER, L"The folder for entries in use is the target: " + m_folder);
    }
}

void CInUseDeferral::openFolder()
{
    m_folderHandle = WinAPI::openPlainFolder(m_folder, kFolderSecurity, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
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

bool CInUseDeferral::moveAside(HANDLE entry, const CFilePath& shown)
{
    CLock::CScope lock(m_lock);
    if (!availableLocked())
    {
        return false;
    }
    if (!m_folderHandle.isValid())
    {
        try
        {
            openFolder();
        }
        catch (const CTavException& reason)
        {
            m_state = EState::unavailable;
            m_folderHandle.reset();
            m_listener.unavailable(reason);
            return false;
        }
    }
    const std::wstring message = L"Moving " + shown + L" aside failed.";
    if (WinAPI::getFileInformationByHandle(entry, shown).dwVolumeSerialNumber != m_volumeSerial)
    {
        throw CTavException(ERROR_NOT_SAME_DEVICE, message);
    }
    for (int attempt = 0; attempt < kNameAttempts; ++attempt)
    {
        const CFilePath moved = CFilePath::combine(m_folder, uniqueName());
        WinAPI::deleteAtRestart(moved);
        const std::uint32_t error = WinAPI::tryRenameByHandle(entry, systemForm(moved));
        if (error == ERROR_SUCCESS)
        {
            ++m_moved;
            m_listener.moved(shown, moved);
            return true;
        }
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
        {
            throw CTavException(error, message);
        }
    }
    throw CTavException(ERROR_ALREADY_EXISTS, message);
}

void CInUseDeferral::finish()
{
    CLock::CScope lock(m_lock);
    if (m_state != EState::ready)
    {
        return;
    }
    m_state = EState::finished;
    m_folderHandle.reset();
    if (m_moved != 0)
    {
        WinAPI::deleteAtRestart(m_folder);
    }
}
