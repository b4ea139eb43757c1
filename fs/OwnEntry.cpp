#include "fs/OwnEntry.h"

#include "fs/ResolvedName.h"
#include "win/EntryCalls.h"
#include "win/FileCalls.h"
#include "win/MoveCalls.h"
#include "win/TavException.h"

#include <windows.h>

namespace
{
constexpr int kNames = 100;

// Under Wine a handle opened at a Unix link holds the link's target: only the resolved name tells.
bool isAtItsOwnName(HANDLE entry, const CFilePath& path, WinAPI::EntryKind kind)
{
    if (!WinAPI::platformFollowsLinks())
    {
        return true;
    }
    const CFilePath folderPath = path.parent();
    const CUniqueFile folder = WinAPI::openFolder(folderPath);
    return folder.isValid() &&
           isEntryOf(WinAPI::queryEntryName(entry, kind, path),
                     WinAPI::queryEntryName(folder.get(), WinAPI::EntryKind::Folder, folderPath), path.fileName());
}

// The entry open at path is one this process may take over (see OwnEntry.h).
bool isOwnPlainEntry(HANDLE entry, const CFilePath& path, bool folder)
{
    try
    {
        const BY_HANDLE_FILE_INFORMATION information = WinAPI::getFileInformationByHandle(entry, path);
        const DWORD attributes = information.dwFileAttributes;
        if (((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != folder ||
            (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || (!folder && information.nNumberOfLinks != 1))
        {
            return false;
        }
        const std::wstring owner = WinAPI::getOwner(entry, path);
        if (owner != WinAPI::getProcessUser() && owner != WinAPI::getProcessDefaultOwner())
        {
            return false;
        }
        return isAtItsOwnName(entry, path, folder ? WinAPI::EntryKind::Folder : WinAPI::EntryKind::File);
    }
    catch (const CTavException&)
    {
        // What cannot be checked is not taken over.
        return false;
    }
}

// Whether the entry at path, opened as it is, may be taken over; created is the error of the
// attempt to create it, thrown when nothing is there to open either.
bool openExisting(const CFilePath& path, bool folder, std::uint32_t created, const std::wstring& message,
                  CUniqueFile& entry)
{
    const std::uint32_t opened = WinAPI::tryOpenEntryAsItIs(path, folder, entry);
    if (opened == ERROR_SUCCESS)
    {
        return isOwnPlainEntry(entry.get(), path, folder);
    }
    // Nothing there, and yet it could not be created: the folder is the trouble, not the name.
    if (WinAPI::isMissing(opened) && created != ERROR_FILE_EXISTS && created != ERROR_ALREADY_EXISTS)
    {
        throw CTavException(created, message);
    }
    // A dangling link, or an entry this process may not even look at: the name is taken.
    return false;
}
}  // namespace

CUniqueFile createOwnFile(const CFilePath& path)
{
    const std::wstring message = L"WinAPI::createFile(" + path + L") failed.";
    CUniqueFile file;
    const std::uint32_t created = WinAPI::tryCreateNewFile(path, file);
    if (created == ERROR_SUCCESS)
    {
        return file;
    }
    CUniqueFile existing;
    if (!openExisting(path, false, created, message, existing))
    {
        return CUniqueFile();
    }
    // Written through the very file that was checked, whatever its name leads to by now. One that
    // cannot be written (read-only, say) leaves the name to the next.
    try
    {
        file = WinAPI::reopenForWriting(existing.get(), path);
        WinAPI::truncateFile(file.get(), path);
        return file;
    }
    catch (const CTavException&)
    {
        return CUniqueFile();
    }
}

bool createOwnFolder(const CFilePath& path)
{
    const std::uint32_t created = WinAPI::tryCreateNewDirectory(path);
    if (created == ERROR_SUCCESS)
    {
        return true;
    }
    CUniqueFile existing;
    return openExisting(path, true, created, L"WinAPI::createDirectory(" + path + L") failed.", existing);
}

CFilePath firstOwnName(const CFilePath& path, const std::function<bool(const CFilePath&)>& take)
{
    const CFilePath folder = path.parent();
    const std::wstring name = path.fileName();
    const std::size_t dot = name.rfind(L'.');
    const std::wstring stem = dot == std::wstring::npos || dot == 0 ? name : name.substr(0, dot);
    const std::wstring extension = stem.size() == name.size() ? L"" : name.substr(stem.size());
    for (int number = 1; number <= kNames; ++number)
    {
        CFilePath candidate =
            number == 1 ? path : CFilePath::combine(folder, stem + L"." + std::to_wstring(number) + extension);
        if (take(candidate))
        {
            return candidate;
        }
    }
    throw CTavException(ERROR_FILE_EXISTS, L"No free name for " + path + L".");
}
