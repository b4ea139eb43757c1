#include "fs/TargetPath.h"

#include "win/TavException.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>

namespace
{
constexpr std::size_t kLongestName = 255;

bool startsWith(const std::wstring& text, const wchar_t* lead)
{
    return text.compare(0, std::wcslen(lead), lead) == 0;
}

bool isAsciiLetter(wchar_t c)
{
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

// "C:\..." after a verbatim, device or object-manager lead-in.
bool isDrivePath(const std::wstring& text, std::size_t at)
{
    return text.size() >= at + 3 && isAsciiLetter(text[at]) && text[at + 1] == L':' && text[at + 2] == L'\\';
}

// "UNC\server..." after a verbatim lead-in.
bool isSharePath(const std::wstring& text, std::size_t at)
{
    return text.size() > at + 4 && _wcsnicmp(text.c_str() + at, L"UNC\\", 4) == 0;
}

bool isVerbatim(const std::wstring& text)
{
    return startsWith(text, L"\\\\?\\");
}

CTargetPath refused(const wchar_t* reason)
{
    CTargetPath result;
    result.refusal = reason;
    return result;
}

// The parts of an absolute path that name entries: everything after the lead-in and the drive
// ("\\?\C:\", "C:\"), or after the lead-in of a UNC path ("\\?\UNC\", "\\"), server and share
// included.
std::wstring namedParts(const CFilePath& absolute)
{
    std::size_t start = isVerbatim(absolute) ? 4 : 0;
    if (isDrivePath(absolute, start))
    {
        start += 3;
    }
    else if (isVerbatim(absolute))
    {
        start += 4;  // "UNC\"
    }
    else
    {
        start = 2;  // "\\"
    }
    return start < absolute.size() ? absolute.substr(start) : std::wstring();
}

const wchar_t* invalidPartReason(const CFilePath& absolute)
{
    const std::wstring parts = namedParts(absolute);
    const bool verbatim = isVerbatim(absolute);
    std::size_t begin = 0;
    while (begin <= parts.size() && !parts.empty())
    {
        const std::size_t end = std::min(parts.find(L'\\', begin), parts.size());
        const std::wstring part = parts.substr(begin, end - begin);
        if (verbatim && (part == L"." || part == L".."))
        {
            return L"a verbatim path is taken as it stands, and \".\" or \"..\" in it names no entry";
        }
        if (part.size() > kLongestName)
        {
            return L"a name longer than 255 characters names no entry";
        }
        const bool invalid = std::any_of(part.begin(), part.end(),
                                         [](wchar_t c) { return c < 0x20 || std::wcschr(L"<>:\"|?*", c) != nullptr; });
        if (invalid)
        {
            return L"no Windows name contains < > : \" | ? * or a control character (and wildcards match nothing)";
        }
        begin = end + 1;
    }
    return nullptr;
}

// The last part of the text as given, before anything resolves it: only dots and blanks name the
// folder itself, its parent or nothing ("C:." is the current folder of drive C).
bool lastPartIsOnlyDots(const std::wstring& spelled)
{
    const CFilePath path(spelled);
    std::wstring last = path.substr(path.rfind(L'\\') + 1);
    if (last.size() >= 2 && last[1] == L':' && path.find(L'\\') == std::wstring::npos)
    {
        last.erase(0, 2);
    }
    return !last.empty() && last.find_first_not_of(L". ") == std::wstring::npos;
}
}  // namespace

CTargetPath parseTargetPath(const std::wstring& text)
{
    if (text.empty())
    {
        return {};
    }
    // An installer's "C:\dir\" arrives as C:\dir" under the quoting rules of command lines.
    if (text.find(L'"') != std::wstring::npos)
    {
        return refused(L"no Windows name contains a double quote");
    }
    std::wstring spelled = text;
    std::replace(spelled.begin(), spelled.end(), L'/', L'\\');
    // Everything that is not a drive or UNC path in the object namespace or the device namespace
    // (a volume, a disk, a pipe, a link of the object manager) is no file to delete; read as a
    // path, it would become a relative one.
    if (startsWith(spelled, L"\\??\\"))
    {
        if (!isDrivePath(spelled, 4) && !isSharePath(spelled, 4))
        {
            return refused(
                L"an object-manager name is taken only before a drive (\\??\\C:\\) or a share (\\??\\UNC\\)");
        }
        spelled.replace(0, 4, L"\\\\?\\");
    }
    if (isVerbatim(spelled) && !isDrivePath(spelled, 4) && !isSharePath(spelled, 4))
    {
        return refused(L"a verbatim path is taken only before a drive (\\\\?\\C:\\) or a share (\\\\?\\UNC\\)");
    }
    if (startsWith(spelled, L"\\\\.\\") && !isDrivePath(spelled, 4))
    {
        return refused(L"a device path is taken only before a drive (\\\\.\\C:\\)");
    }
    if (lastPartIsOnlyDots(spelled))
    {
        return refused(L"a last part made only of dots and blanks names no entry of its own");
    }
    CTargetPath result;
    try
    {
        result.path = CFilePath(spelled).absolute();
    }
    catch (const CTavException&)
    {
        return refused(L"the path cannot be made absolute");
    }
    // A reserved device name ("C:\x\CON" on older systems) resolves into the device namespace.
    const bool verbatim = isVerbatim(result.path);
    const bool share = verbatim ? isSharePath(result.path, 4) : startsWith(result.path, L"\\\\");
    if (!share && !isDrivePath(result.path, verbatim ? 4 : 0))
    {
        return refused(L"the path names a device, not a file");
    }
    if (share && namedParts(result.path).find(L'\\') == std::wstring::npos)
    {
        return refused(L"a UNC path names a server and a share before any folder");
    }
    if (const wchar_t* reason = invalidPartReason(result.path))
    {
        return refused(reason);
    }
    return result;
}
