#include "fs/ExecutableFolder.h"

#include "fs/Place.h"
#include "fs/ProtectedFolders.h"
#include "fs/ResolvedName.h"
#include "fs/SameFile.h"
#include "win/EntryCalls.h"
#include "win/HeldFolder.h"
#include "win/MoveCalls.h"
#include "win/ProcessCalls.h"
#include "win/SystemCalls.h"
#include "win/TavException.h"

CExecutableFolder::CExecutableFolder(const CFilePath& file, HANDLE fileIdentity) : m_path(file.parent())
{
    const std::wstring message = L"The folder " + m_path + L" is not the folder of " + file + L".";
    if (m_path.isRoot())
    {
        m_reasonToKeep = L"it is a volume's root";
        return;
    }
    const CFilePath above = m_path.parent();
    const CUniqueFile aboveHandle = WinAPI::openFolder(verbatimForm(above));
    if (!aboveHandle.isValid())
    {
        throw CTavException(ERROR_PATH_NOT_FOUND, message);
    }
    // Its name as the folder lists it (the path may give a short name).
    WinAPI::DirectoryEntry listed;
    if (!WinAPI::findEntry(aboveHandle.get(), m_path.fileName(), listed, m_path))
    {
        throw CTavException(ERROR_PATH_NOT_FOUND, message);
    }
    m_held = WinAPI::holdFolder(aboveHandle.get(), listed.name, m_path);
    // Where the platform follows links whatever it is asked, only the resolved name tells.
    if (WinAPI::platformFollowsLinks() &&
        !isEntryOf(WinAPI::queryEntryName(m_held.get(), WinAPI::EntryKind::Folder, m_path),
                   WinAPI::queryEntryName(aboveHandle.get(), WinAPI::EntryKind::Folder, above), listed.name))
    {
        throw CTavException(ERROR_DIRECTORY, message);
    }
    const CUniqueFile entry = WinAPI::openEntryToQuery(m_held.get(), file.fileName(), file);
    if (!entry.isValid() || !isSameEntry(entry.get(), fileIdentity))
    {
        throw CTavException(ERROR_FILE_INVALID, message);
    }
    m_identity = WinAPI::getFileInformationByHandle(m_held.get(), m_path);
    const CPlace place = CPlace::of(m_held.get(), m_path);
    m_reasonToKeep = CProtectedFolders::ofSystem().reasonToKeep(place);
    // Where the final deleters start when the temporary folder lies inside a folder to be deleted.
    const CFilePath windowsTemp = CFilePath::combine(WinAPI::getWindowsDirectory(), L"Temp");
    if (!m_reasonToKeep && place == CPlace::ofPath(windowsTemp))
    {
        m_reasonToKeep = L"it is the system's folder " + windowsTemp;
    }
    if (m_reasonToKeep)
    {
        m_held.reset();
    }
}

CUniqueFile CExecutableFolder::identify() const
{
    const CUniqueFile identity = WinAPI::reopenFolder(m_held.get(), WinAPI::FolderUse::Identify, m_path);
    // Where the platform opens a folder again by its name, the name may lead elsewhere by now.
    if (!identity.isValid() || !isSameEntry(WinAPI::getFileInformationByHandle(identity.get(), m_path), m_identity))
    {
        throw CTavException(ERROR_FILE_INVALID, L"The folder " + m_path + L" is another folder now.");
    }
    return WinAPI::duplicateFileHandle(identity.get(), FILE_READ_ATTRIBUTES, true);
}
