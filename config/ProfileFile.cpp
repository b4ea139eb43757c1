#include "config/ProfileFile.h"

#include "win/FileCalls.h"
#include "win/ProfileCalls.h"
#include "win/SystemCalls.h"

namespace
{
// The form of an absolute path that the file calls take at any length.
std::wstring longPathForm(const std::wstring& path)
{
    if (path.starts_with(L"\\\\?\\"))
    {
        return path;
    }
    if (path.starts_with(L"\\\\"))
    {
        return L"\\\\?\\UNC\\" + path.substr(2);
    }
    return L"\\\\?\\" + path;
}
}  // namespace

bool CProfileFile::exists(const std::wstring& path)
{
    return pathExists(path.size() < MAX_PATH ? path : longPathForm(path));
}

CProfileFile::CProfileFile(const std::wstring& path) : m_readPath(path)
{
    if (path.size() < MAX_PATH)
    {
        return;
    }
    m_readPath = WinAPI::getTempFileName(WinAPI::getTempPath(), L"qor");
    m_copied = true;
    try
    {
        WinAPI::copyFile(longPathForm(path), m_readPath);
    }
    catch (...)
    {
        WinAPI::tryDeleteFile(m_readPath);
        throw;
    }
}

CProfileFile::~CProfileFile()
{
    if (m_copied)
    {
        WinAPI::tryDeleteFile(m_readPath);
    }
}

std::wstring CProfileFile::getString(const wchar_t* section, const wchar_t* key, const wchar_t* defaultText) const
{
    return WinAPI::getPrivateProfileString(section, key, defaultText, m_readPath);
}

UINT CProfileFile::getInt(const wchar_t* section, const wchar_t* key, INT defaultValue) const
{
    return ::GetPrivateProfileIntW(section, key, defaultValue, m_readPath.c_str());
}
