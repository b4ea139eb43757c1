#include "fs/Place.h"

#include "fs/FilePath.h"
#include "win/FileCalls.h"
#include "win/IgnoringCase.h"
#include "win/TavException.h"

namespace
{
bool startsWith(const std::wstring& text, const wchar_t* lead)
{
    return text.compare(0, std::wcslen(lead), lead) == 0;
}

// "\\?\C:\x" as "C:\x", "\\?\UNC\server\share" as "\\server\share".
std::wstring withoutVerbatimLeadIn(const std::wstring& path)
{
    if (startsWith(path, L"\\\\?\\UNC\\"))
    {
        return L"\\\\" + path.substr(8);
    }
    return startsWith(path, L"\\\\?\\") ? path.substr(4) : path;
}
}  // namespace

CPlace::CPlace(std::wstring name) : m_name(std::move(name))
{
    // A volume's root ends in a backslash; no other place does.
    while (!m_name.empty() && m_name.back() == L'\\')
    {
        m_name.pop_back();
    }
}

CPlace CPlace::of(HANDLE entry, const std::wstring& shownPath)
{
    try
    {
        return CPlace(WinAPI::getFinalPathName(entry, shownPath));
    }
    catch (const CTavException&)
    {
        // A volume without a device name (under Wine a drive that its mount manager does not
        // know, such as one linked in by hand): every entry on it is named by its drive instead,
        // so places on it still compare among themselves.
        return CPlace(WinAPI::getFinalPathName(entry, shownPath, true));
    }
}

CPlace CPlace::ofPath(const std::wstring& path)
{
    CFilePath existing = CFilePath(path).absolute();
    std::wstring missing;
    for (;;)
    {
        const CUniqueFile entry = WinAPI::openToLocate(verbatimForm(existing));
        if (entry.isValid())
        {
            return CPlace(CPlace::of(entry.get(), existing).m_name + missing);
        }
        const CFilePath above = existing.parent();
        if (above.empty() || above == existing)
        {
            throw CTavException(ERROR_PATH_NOT_FOUND, L"CPlace::ofPath(" + path + L") failed: no part of it exists.");
        }
        missing = L"\\" + existing.fileName() + missing;
        existing = above;
    }
}

bool CPlace::contains(const CPlace& other) const
{
    const std::wstring& inner = other.m_name;
    if (inner.size() < m_name.size() ||
        !WinAPI::equalIgnoringCase(std::wstring_view(inner).substr(0, m_name.size()), m_name))
    {
        return false;
    }
    return inner.size() == m_name.size() || inner[m_name.size()] == L'\\';
}

bool CPlace::operator==(const CPlace& other) const
{
    return WinAPI::equalIgnoringCase(m_name, other.m_name);
}

std::wstring withFolderAsFileSystemSpellsIt(const std::wstring& path)
{
    try
    {
        const CFilePath absolute = CFilePath(path).absolute();
        const CFilePath folder = absolute.parent();
        if (const CUniqueFile entry = WinAPI::openToLocate(verbatimForm(folder)); entry.isValid())
        {
            const std::wstring spelled = withoutVerbatimLeadIn(WinAPI::getFinalPathName(entry.get(), folder, true));
            return CFilePath::combine(spelled, absolute.fileName());
        }
    }
    catch (const CTavException&)
    {
        // Then as it stands.
    }
    return path;
}
