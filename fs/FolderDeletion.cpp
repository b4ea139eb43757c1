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

#include "fs/DirectoryIterator.h"
#include "fs/FilePath.h"
#include "fs/WinAPI.h"

#include <cwchar>

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

    void throwIfAny() const
    {
        if (!m_list.empty())
        {
            throw CTavException(m_lastCode, m_list);
        }
    }

private:
    std::wstring m_list;
    std::uint32_t m_lastCode = 0;
};

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

void deleteEntry(const CFilePath& shown, const std::wstring& systemPath, DWORD attributes);

void deleteFolder(const CFilePath& shown, const std::wstring& systemPath)
{
    CFailures failures;
    {
        CDirectoryIterator entry(CFilePath(systemPath), L"*");
        for (; !entry.atEnd(); entry.advance())
        {
            try
            {
                deleteEntry(CFilePath::combine(shown, entry.name()), entry.current(), entry.attributes());
            }
            catch (const CTavException& error)
            {
                failures.add(error);
            }
        }
    }
    try
    {
        WinAPI::removeDirectory(shown, systemPath);
    }
    catch (const CTavException& error)
    {
        failures.add(error);
    }
    failures.throwIfAny();
}

void deleteEntry(const CFilePath& shown, const std::wstring& systemPath, DWORD attributes)
{
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
    {
        // Only the link goes. Removing a directory link by name, or clearing its attributes,
        // can reach its target on some platforms.
        WinAPI::deleteLink(shown, systemPath);
    }
    else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    {
        deleteFolder(shown, systemPath);
    }
    else
    {
        clearReadOnly(systemPath, attributes);
        WinAPI::deleteFile(shown, systemPath);
    }
}
}  // namespace

void CFilePath::deleteFileForced() const
{
    const DWORD attributes = ::GetFileAttributesW(c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES && !exists())
    {
        return;
    }
    clearReadOnly(*this, attributes == INVALID_FILE_ATTRIBUTES ? 0 : attributes);
    WinAPI::deleteFile(*this, *this);
}

void CFilePath::deleteCompletely() const
{
    if (empty())
    {
        return;
    }
    const CFilePath absolute = WinAPI::fullpath(*this);
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
    deleteEntry(*this, systemPath, attributes == INVALID_FILE_ATTRIBUTES ? 0 : attributes);
}
