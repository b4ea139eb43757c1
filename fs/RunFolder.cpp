#include "fs/RunFolder.h"

#include "fs/SameFile.h"
#include "fs/UniqueName.h"
#include "win/EntryCalls.h"
#include "win/FileCalls.h"
#include "win/HeldFolder.h"
#include "win/MoveCalls.h"
#include "win/ProcessCalls.h"
#include "win/SystemCalls.h"
#include "win/TavException.h"

namespace
{
// Owned by the administrators, open to them and the system only (as the deferral's folder), and
// passed on to the files inside: no standard user can add, change, rename or delete anything in it.
constexpr const wchar_t* kProtectedSecurity = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
}  // namespace

CRunFolder::CRunFolder(const CFilePath& base, const std::wstring& stem, std::uint32_t id)
{
    const wchar_t* security = WinAPI::hasAdministratorsGroup() ? kProtectedSecurity : nullptr;
    m_path = createUnique(base, stem, id, L"", [&](const CFilePath& path) {
        m_folder = WinAPI::createHeldFolder(base, path.fileName(), security);
    });
    m_identity = WinAPI::getFileInformationByHandle(m_folder.get(), m_path);
}

CRunFolder::~CRunFolder()
{
    remove();
}

CUniqueFile CRunFolder::identify() const
{
    const CUniqueFile identity = WinAPI::reopenFolder(m_folder.get(), WinAPI::FolderUse::Identify, m_path);
    // Where the platform opens a folder again by its name, the name may lead elsewhere by now.
    if (!identity.isValid() || !isSameEntry(WinAPI::getFileInformationByHandle(identity.get(), m_path), m_identity))
    {
        throw CTavException(ERROR_FILE_INVALID, L"The folder " + m_path + L" is another folder now.");
    }
    return WinAPI::duplicateFileHandle(identity.get(), FILE_READ_ATTRIBUTES, true);
}

CUniqueFile CRunFolder::addFile(const std::wstring& name, std::string_view content, DWORD access, DWORD flags,
                                bool inheritable)
{
    const CFilePath file = CFilePath::combine(m_path, name);
    BY_HANDLE_FILE_INFORMATION written{};
    {
        const CUniqueFile writer = WinAPI::createNewFile(file);
        m_files.emplace_back(name, WinAPI::getFileInformationByHandle(writer.get(), file));
        WinAPI::writeFile(writer.get(), content.data(), static_cast<std::uint32_t>(content.size()));
        written = m_files.back().second;
    }
    // From here on no one else can open the file for writing; whatever held it meanwhile shows
    // in what it is and holds now.
    CUniqueFile held = WinAPI::openShielded(file, access | FILE_READ_DATA | FILE_READ_ATTRIBUTES, flags, inheritable);
    if (!isSameEntry(WinAPI::getFileInformationByHandle(held.get(), file), written) ||
        WinAPI::readToEnd(held.get(), file) != content)
    {
        throw CTavException(ERROR_INVALID_DATA, L"The file " + file + L" changed between its writing and its opening.");
    }
    return held;
}

void CRunFolder::removeFile(const std::wstring& name)
{
    if (!m_folder.isValid())
    {
        return;
    }
    for (const auto& [fileName, identity] : m_files)
    {
        if (fileName != name)
        {
            continue;
        }
        const CFilePath file = CFilePath::combine(m_path, name);
        try
        {
            const CUniqueFile entry = WinAPI::openEntry(m_folder.get(), name, WinAPI::EntryKind::File, file);
            if (entry.isValid() && isSameEntry(WinAPI::getFileInformationByHandle(entry.get(), file), identity))
            {
                WinAPI::deleteOpenEntry(entry.get(), WinAPI::EntryKind::File, file);
            }
        }
        catch (const CTavException&)
        {
            // The folder then stays with it.
        }
    }
}

void CRunFolder::remove()
{
    if (!m_folder.isValid())
    {
        return;
    }
    for (const auto& file : m_files)
    {
        removeFile(file.first);
    }
    // The held handle may not delete (see createHeldFolder), and while it is open no other handle
    // may: the folder is opened again after it, and deleted only when it is still this folder.
    keep();
    try
    {
        const CUniqueFile parent = WinAPI::openFolder(m_path.parent());
        const CUniqueFile folder =
            parent.isValid() ? WinAPI::openEntry(parent.get(), m_path.fileName(), WinAPI::EntryKind::Folder, m_path)
                             : CUniqueFile();
        if (folder.isValid() && isSameEntry(WinAPI::getFileInformationByHandle(folder.get(), m_path), m_identity))
        {
            WinAPI::deleteOpenEntry(folder.get(), WinAPI::EntryKind::Folder, m_path);
        }
    }
    catch (const CTavException&)
    {
        // Something else is in it, or holds it: it stays.
    }
}

void CRunFolder::keep()
{
    m_folder.reset();
    m_files.clear();
}
