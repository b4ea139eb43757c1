// Removing a folder tree (or one file), collecting every failure.
//
// The walk hands Windows the verbatim long-path form ("\\?\C:\..." or "\\?\UNC\...") of every
// entry, so names that the Win32 path rules would alter (a trailing dot or blank, device names
// such as NUL, paths beyond 260 characters) are deleted too; messages show the normal form.
// Links and other reparse points are removed themselves and never entered: their targets are
// not part of the tree.
//
// A folder throws one exception listing every failure inside it, one per line, with the code of
// the last one; a parent lists a failed subfolder by that exception's full text, so lists nest.

#include "fs/FolderDeletion.h"

#include "fs/DirectoryIterator.h"
#include "win/FileCalls.h"
#include "win/SystemCalls.h"
#include "win/TavException.h"

#include <cwchar>
#include <vector>

namespace
{
constexpr DWORD kReadOnly = FILE_ATTRIBUTE_READONLY;

class CFailures
{
public:
    void add(const CTavException& error)
    {
        m_list += error.fullText();
        m_list += L'\n';
        m_lastCode = error.errorCode;
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

bool isSameOrInside(const std::wstring& path, const std::wstring& folder)
{
    if (path.size() < folder.size() || _wcsnicmp(path.c_str(), folder.c_str(), folder.size()) != 0)
    {
        return false;
    }
    return path.size() == folder.size() || path[folder.size()] == L'\\' || folder.back() == L'\\';
}

// A folder that is the current directory of a process cannot be removed: move ours elsewhere.
void leaveFolder(const CFilePath& folder)
{
    try
    {
        if (!isSameOrInside(WinAPI::getCurrentDirectory(), folder))
        {
            return;
        }
        CFilePath elsewhere = WinAPI::getTempPath();
        if (isSameOrInside(elsewhere, folder))
        {
            elsewhere = WinAPI::getWindowsDirectory();
        }
        ::SetCurrentDirectoryW(elsewhere.c_str());
    }
    catch (const CTavException&)
    {
        // Then the removal of the folder itself reports what is in the way.
    }
}

void clearReadOnly(const std::wstring& systemPath, DWORD attributes)
{
    for (int round = 0; round < 1000 && (attributes & kReadOnly) != 0; ++round)
    {
        ::SetFileAttributesW(systemPath.c_str(), attributes & ~kReadOnly);
        attributes = ::GetFileAttributesW(systemPath.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
        {
            return;
        }
        if ((attributes & kReadOnly) != 0)
        {
            ::Sleep(2);
        }
    }
}

// Removes an entry that is not a folder to walk: a file, or a link of any kind.
void deleteLeaf(const CFilePath& shown, const std::wstring& systemPath, DWORD attributes)
{
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
    {
        // Only the link goes. Removing a directory link by name, or clearing its attributes,
        // can reach its target on some platforms.
        WinAPI::deleteLink(shown, systemPath);
        return;
    }
    clearReadOnly(systemPath, attributes);
    WinAPI::deleteFile(shown, systemPath);
}

bool isFolderToWalk(DWORD attributes)
{
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// One folder being emptied: its open listing and the failures inside it so far.
struct CFolderLevel
{
    CFilePath shown;
    std::wstring systemPath;
    CDirectoryIterator entry;
    CFailures failures;
};

// Walks the tree with a stack of its own instead of recursion, so no depth of folders (the long
// path form allows thousands) can exhaust the thread's stack.
void deleteFolder(const CFilePath& shown, const std::wstring& systemPath)
{
    std::vector<CFolderLevel> levels;
    levels.push_back({shown, systemPath, CDirectoryIterator(CFilePath(systemPath), L"*"), {}});
    while (!levels.empty())
    {
        CFolderLevel& level = levels.back();
        if (!level.entry.atEnd())
        {
            const CFilePath childShown = CFilePath::combine(level.shown, level.entry.name());
            const std::wstring childSystem = level.entry.current();
            const DWORD attributes = level.entry.attributes();
            level.entry.advance();
            if (isFolderToWalk(attributes))
            {
                levels.push_back({childShown, childSystem, CDirectoryIterator(CFilePath(childSystem), L"*"), {}});
                continue;
            }
            try
            {
                deleteLeaf(childShown, childSystem, attributes);
            }
            catch (const CTavException& error)
            {
                level.failures.add(error);
            }
            continue;
        }

        // The folder's listing is done: close it, then remove the folder itself (which fails with
        // ERROR_DIR_NOT_EMPTY when something inside could not be removed).
        level.entry.reset();
        try
        {
            WinAPI::removeDirectory(level.shown, level.systemPath);
        }
        catch (const CTavException& error)
        {
            level.failures.add(error);
        }
        const CFailures failures = std::move(level.failures);
        levels.pop_back();
        if (levels.empty())
        {
            failures.throwIfAny();
        }
        else if (failures.any())
        {
            levels.back().failures.add(failures.error());
        }
    }
}

void deleteEntry(const CFilePath& shown, const std::wstring& systemPath, DWORD attributes)
{
    if (isFolderToWalk(attributes))
    {
        deleteFolder(shown, systemPath);
    }
    else
    {
        deleteLeaf(shown, systemPath, attributes);
    }
}
}  // namespace

std::wstring verbatimForm(const CFilePath& absolute)
{
    if (absolute.compare(0, 4, L"\\\\?\\") == 0 || absolute.compare(0, 4, L"\\\\.\\") == 0)
    {
        return absolute;
    }
    if (absolute.compare(0, 2, L"\\\\") == 0)
    {
        return L"\\\\?\\UNC\\" + absolute.substr(2);
    }
    return L"\\\\?\\" + absolute;
}

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

void deleteCompletely(const CFilePath& path)
{
    if (path.empty())
    {
        return;
    }
    const CFilePath absolute = WinAPI::fullpath(path);
    const std::wstring systemPath = verbatimForm(absolute);
    if (!pathExists(systemPath))
    {
        return;
    }
    // Judged on the absolute form, so "\", "." in a drive root or "C:\x\.." are refused as well.
    if (absolute.isRoot())
    {
        throw CTavException(0xFFFFFFFF, L"Do Not EMPTY complete Disks");
    }
    leaveFolder(absolute);
    const DWORD attributes = ::GetFileAttributesW(systemPath.c_str());
    deleteEntry(path, systemPath, attributes == INVALID_FILE_ATTRIBUTES ? 0 : attributes);
}
