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
    const std::wstring longPath = longPathForm(path);
    const CUniqueFile source = WinAPI::reopenFile(WinAPI::openToIdentify(longPath).get(), GENERIC_READ, path);
    const std::string content = WinAPI::readToEnd(source.get(), path);
    const std::wstring name = CFilePath(path).fileName();
    m_copyFolder = std::make_unique<CRunFolder>(WinAPI::getTempPath(), CFilePath(name).withoutExtension(),
                                                ::GetCurrentProcessId());
    m_copy = m_copyFolder->addFile(name, content, GENERIC_READ, 0, false);
    m_readPath = CFilePath::combine(m_copyFolder->path(), name);
}

// The copy's hold goes first (it is declared last), then the folder with the copy.
CProfileFile::~CProfileFile() = default;

std::wstring CProfileFile::getString(const wchar_t* section, const wchar_t* key, const wchar_t* defaultText) const
{
    return WinAPI::getPrivateProfileString(section, key, defaultText, m_readPath);
}

UINT CProfileFile::getInt(const wchar_t* section, const wchar_t* key, INT defaultValue) const
{
    return WinAPI::getPrivateProfileInt(section, key, defaultValue, m_readPath);
}
