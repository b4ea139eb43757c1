#include "fs/FilePath.h"

#include "win/FileCalls.h"

#include <cwctype>

namespace
{
bool startsWith(const std::wstring& text, const wchar_t* lead)
{
    return text.compare(0, std::wcslen(lead), lead) == 0;
}

bool hasLongLeadIn(const std::wstring& text)
{
    return startsWith(text, L"\\\\?\\");
}

bool isAsciiLetter(wchar_t c)
{
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}
}  // namespace

CFilePath::CFilePath(const std::wstring& text) : std::wstring(text)
{
    normalize();
}

CFilePath::CFilePath(const wchar_t* text) : std::wstring(text != nullptr ? text : L"")
{
    normalize();
}

void CFilePath::normalize()
{
    if (empty())
    {
        return;
    }
    push_back(L'\\');

    // Slashes become backslashes; runs of backslashes shrink to one, except that the first two
    // characters (the lead-in of a network path) are kept.
    std::wstring result;
    result.reserve(size());
    for (wchar_t c : *this)
    {
        if (c == L'/')
        {
            c = L'\\';
        }
        if (c == L'\\' && result.size() >= 2 && result.back() == L'\\')
        {
            continue;
        }
        result.push_back(c);
    }
    if (startsWith(result, L"\\??\\"))
    {
        result.erase(0, 4);
    }
    assign(std::move(result));
    if (!empty() && !isDriveRoot() && back() == L'\\')
    {
        pop_back();
    }
}

CFilePath CFilePath::absolute() const
{
    if (empty() || hasLongLeadIn(*this))
    {
        return *this;
    }
    const std::wstring full = WinAPI::fullpath(*this);
    if (startsWith(full, L"\\\\.\\"))
    {
        return CFilePath(L"\\\\?\\" + full.substr(4));
    }
    return CFilePath(full);
}

bool CFilePath::exists() const
{
    return pathExists(*this);
}

bool CFilePath::isDriveRoot() const
{
    if (size() == 3)
    {
        return at(1) == L':' && at(2) == L'\\';
    }
    return size() == 7 && hasLongLeadIn(*this) && at(5) == L':' && at(6) == L'\\';
}

bool CFilePath::isNetworkPath() const
{
    if (!hasLongLeadIn(*this))
    {
        return startsWith(*this, L"\\\\");
    }
    const bool driveForm = size() > 6 && isAsciiLetter(at(4)) && at(5) == L':' && at(6) == L'\\';
    return !driveForm;
}

bool CFilePath::isRoot() const
{
    const bool longForm = hasLongLeadIn(*this);
    if (!longForm && (size() < 2 || at(1) != L':') && (empty() || at(0) != L'\\'))
    {
        return false;
    }
    if (*this == L"\\" || isDriveRoot())
    {
        return true;
    }
    if (!isNetworkPath())
    {
        return false;
    }
    if (!longForm)
    {
        const std::size_t serverEnd = find(L'\\', 2);
        return serverEnd != npos && find(L'\\', serverEnd + 1) == npos;
    }
    // Long forms: \\?\UNC\server\share like the short share root; any other long form
    // (\\?\Volume{...}) is a root when nothing follows its first name.
    std::wstring rest = substr(4);
    if (rest.size() >= 4 && _wcsnicmp(rest.c_str(), L"UNC\\", 4) == 0)
    {
        rest.erase(0, 4);
        const std::size_t serverEnd = rest.find(L'\\');
        return serverEnd != npos && rest.find(L'\\', serverEnd + 1) == npos;
    }
    return rest.find(L'\\') == npos;
}

CFilePath CFilePath::parent() const
{
    if (isRoot())
    {
        return *this;
    }
    const std::size_t cut = rfind(L'\\');
    if (cut == npos)
    {
        return CFilePath();
    }
    return CFilePath(substr(0, cut));
}

CFilePath CFilePath::fileName() const
{
    const std::size_t cut = rfind(L'\\');
    return cut == npos ? *this : CFilePath(substr(cut + 1));
}

std::wstring CFilePath::extension() const
{
    const std::size_t dot = rfind(L'.');
    return dot == npos ? std::wstring() : substr(dot + 1);
}

CFilePath CFilePath::withoutExtension() const
{
    const std::size_t dot = rfind(L'.');
    return dot == npos ? *this : CFilePath(substr(0, dot));
}

CFilePath CFilePath::withExtension(const std::wstring& extensionWithoutDot) const
{
    return CFilePath(withoutExtension() + L"." + extensionWithoutDot);
}

CFilePath CFilePath::combine(const std::wstring& folder, const std::wstring& name)
{
    return folder.empty() ? CFilePath(name) : CFilePath(folder + L"\\" + name);
}

std::wstring CFilePath::quoted() const
{
    return find(L' ') == npos ? std::wstring(*this) : L"\"" + *this + L"\"";
}

void CFilePath::createDirectories() const
{
    if (exists())
    {
        return;
    }
    const CFilePath above = WinAPI::fullpath(parent());
    // A root is its own parent: never descend into it, let creating this folder report the error.
    if (!above.isRoot() && !above.exists())
    {
        above.createDirectories();
    }
    WinAPI::createDirectory(*this);
}

std::wstring verbatimForm(const CFilePath& absolute)
{
    if (hasLongLeadIn(absolute) || startsWith(absolute, L"\\\\.\\"))
    {
        return absolute;
    }
    if (startsWith(absolute, L"\\\\"))
    {
        return L"\\\\?\\UNC\\" + absolute.substr(2);
    }
    return L"\\\\?\\" + absolute;
}
