#include "log/LogFolder.h"

#include "fs/FilePath.h"
#include "fs/ResolvedName.h"
#include "fs/SameFile.h"
#include "win/EntryCalls.h"
#include "win/FileCalls.h"
#include "win/MoveCalls.h"
#include "win/TavException.h"

#include <vector>

namespace
{
using WinAPI::EntryKind;

constexpr ACCESS_MASK kReadWrite = GENERIC_READ | GENERIC_WRITE;
// Tries at one name when its entry appears or vanishes while it is looked at.
constexpr int kRaceAttempts = 4;
}  // namespace

CLogFolder::CLogFolder(const std::wstring& path) : m_path(path)
{
    const CFilePath absolute = CFilePath(path).absolute();
    m_lookAlikes = lookAlikesOf(absolute);
    const std::wstring systemPath = verbatimForm(absolute) + L"\\";
    m_folder = WinAPI::openFolder(systemPath, FILE_ADD_FILE);
    if (!m_folder.isValid())
    {
        throw CTavException(ERROR_PATH_NOT_FOUND, L"WinAPI::openFolder(" + path + L") failed.");
    }
    if (WinAPI::platformFollowsLinks())
    {
        m_resolvedName = WinAPI::queryEntryName(m_folder.get(), EntryKind::Folder, path);
    }
}

std::wstring CLogFolder::pathOf(const std::wstring& name) const
{
    return CFilePath::combine(m_path, name);
}

bool CLogFolder::isPlainFile(HANDLE entry, const std::wstring& name) const
{
    const std::wstring shown = pathOf(name);
    const WinAPI::EntryFacts facts = WinAPI::queryEntry(entry, EntryKind::File, shown);
    if ((facts.attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
        WinAPI::getLinkCount(entry, shown) != 1)
    {
        return false;
    }
    return !WinAPI::platformFollowsLinks() ||
           (isEntryOf(WinAPI::queryEntryName(entry, EntryKind::File, shown), m_resolvedName, name) &&
            !isLookAlike(entry, m_lookAlikes, L"\\" + name));
}

CUniqueFile CLogFolder::openPlain(const std::wstring& name, ACCESS_MASK access, EEntry& kind) const
{
    CUniqueFile entry =
        WinAPI::openFileRelative(m_folder.get(), name, access | FILE_READ_ATTRIBUTES, false, pathOf(name));
    if (!entry.isValid())
    {
        kind = EEntry::missing;
        return entry;
    }
    kind = isPlainFile(entry.get(), name) ? EEntry::plainFile : EEntry::other;
    if (kind != EEntry::plainFile)
    {
        entry.reset();
    }
    return entry;
}

CLogFolder::EEntry CLogFolder::inspect(const std::wstring& name) const
{
    EEntry kind = EEntry::missing;
    try
    {
        openPlain(name, 0, kind);
        if (kind == EEntry::missing)
        {
            // Nothing opens there; a link that leads nowhere still takes the name, and only an
            // exclusive creation shows it. The probe vanishes with its handle.
            WinAPI::openFileRelative(m_folder.get(), name, DELETE, true, pathOf(name), true);
        }
    }
    catch (const CTavException&)
    {
        return EEntry::other;
    }
    return kind;
}

bool CLogFolder::isHeld(const std::wstring& name) const
{
    try
    {
        // Writers of a log share reading and writing, never deleting: an open for deleting fails
        // while any of them holds the file.
        WinAPI::openEntry(m_folder.get(), name, EntryKind::File, pathOf(name));
        return false;
    }
    catch (const CTavException&)
    {
        return true;
    }
}

CUniqueFile CLogFolder::openFile(const std::wstring& name, bool startNew) const
{
    for (int attempt = 0; attempt < kRaceAttempts; ++attempt)
    {
        try
        {
            EEntry kind = EEntry::missing;
            CUniqueFile file = openPlain(name, kReadWrite, kind);
            if (kind == EEntry::other)
            {
                return CUniqueFile();
            }
            if (kind == EEntry::missing)
            {
                // Exclusive: a link planted at the name meanwhile makes this fail, never followed.
                file = createFile(name);
            }
            else if (startNew)
            {
                WinAPI::truncateFile(file.get(), pathOf(name));
            }
            return file;
        }
        catch (const CTavException& error)
        {
            // Made by someone else meanwhile: look again. Anything else (a folder at the name, a
            // holder that shares no writing, a created file that is no plain file) makes the name
            // unusable.
            if (error.errorCode != ERROR_ALREADY_EXISTS)
            {
                throw;
            }
        }
    }
    return CUniqueFile();
}

CUniqueFile CLogFolder::createFile(const std::wstring& name) const
{
    CUniqueFile file = WinAPI::openFileRelative(m_folder.get(), name, kReadWrite, true, pathOf(name));
    if (!isPlainFile(file.get(), name))
    {
        throw CTavException(ERROR_FILE_EXISTS, L"WinAPI::openFile(" + pathOf(name) + L") failed: no plain file.");
    }
    return file;
}

void CLogFolder::checkWritable() const
{
    // A name of this process and moment: a probe never meets another's file.
    const std::wstring name =
        L"qor" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(::GetTickCount64()) + L".tmp";
    const CUniqueFile probe =
        WinAPI::openFileRelative(m_folder.get(), name, GENERIC_WRITE | DELETE, true, pathOf(name));
    WinAPI::deleteOpenEntry(probe.get(), EntryKind::File, pathOf(name));
}

void CLogFolder::moveFile(const std::wstring& from, const std::wstring& to) const
{
    EEntry kind = EEntry::missing;
    const CUniqueFile source = openPlain(from, DELETE | GENERIC_READ, kind);
    if (kind != EEntry::plainFile)
    {
        throw CTavException(ERROR_FILE_NOT_FOUND, L"WinAPI::moveFile(" + pathOf(from) + L", " + pathOf(to) +
                                                      L") failed: no plain file to move.");
    }
    if (WinAPI::tryRenameInto(source.get(), m_folder.get(), to) == ERROR_SUCCESS)
    {
        return;
    }
    copyInto(source.get(), to);
    tryRemoveFile(from);
}

void CLogFolder::tryRemoveFile(const std::wstring& name, const BY_HANDLE_FILE_INFORMATION* sameAs) const
{
    try
    {
        EEntry kind = EEntry::missing;
        const CUniqueFile file = openPlain(name, DELETE, kind);
        if (kind == EEntry::plainFile &&
            (sameAs == nullptr || isSameEntry(WinAPI::getFileInformationByHandle(file.get(), pathOf(name)), *sameAs)))
        {
            WinAPI::deleteOpenEntry(file.get(), EntryKind::File, pathOf(name));
        }
    }
    catch (const CTavException&)
    {
        // Held by others without sharing its deletion: it stays.
    }
}

void CLogFolder::copyInto(HANDLE from, const std::wstring& to) const
{
    const CUniqueFile copy = WinAPI::openFileRelative(m_folder.get(), to, GENERIC_WRITE, true, pathOf(to));
    WinAPI::copyContent(from, copy.get());
}
