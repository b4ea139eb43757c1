#include "fs/FileVersion.h"

#include "win/Library.h"

#include <windows.h>

#include <vector>

bool CFileVersion::isValid() const
{
    return major != kUnknownPart && minor != kUnknownPart && build != kUnknownPart && revision != kUnknownPart;
}

const std::wstring& CFileVersion::text()
{
    static const std::wstring kNotAvailable = L"N/A";
    if (!isValid())
    {
        return kNotAvailable;
    }
    textCache = std::to_wstring(major) + L"." + std::to_wstring(minor) + L"." + std::to_wstring(build) + L"." +
                std::to_wstring(revision);
    return textCache;
}

int CFileVersion::compare(const CFileVersion& a, const CFileVersion& b)
{
    if (!a.isValid())
    {
        return b.isValid() ? -1 : 0;
    }
    if (!b.isValid())
    {
        return 1;
    }
    const std::uint16_t left[] = {a.major, a.minor, a.build, a.revision};
    const std::uint16_t right[] = {b.major, b.minor, b.build, b.revision};
    for (int i = 0; i < 4; ++i)
    {
        if (left[i] != right[i])
        {
            return left[i] < right[i] ? -1 : 1;
        }
    }
    return 0;
}

namespace
{
// The version library is no known system DLL, so Windows would look for it beside the program
// first (a planted copy in a download folder): it is loaded from the system folder on first use.
struct CVersionCalls
{
    CUniqueLibrary library = loadSystemLibrary(L"version.dll");
    decltype(&::GetFileVersionInfoSizeW) infoSize =
        findFunction<decltype(&::GetFileVersionInfoSizeW)>(library, "GetFileVersionInfoSizeW");
    decltype(&::GetFileVersionInfoW) info =
        findFunction<decltype(&::GetFileVersionInfoW)>(library, "GetFileVersionInfoW");
    decltype(&::VerQueryValueW) queryValue = findFunction<decltype(&::VerQueryValueW)>(library, "VerQueryValueW");
};

const CVersionCalls& versionCalls()
{
    static const CVersionCalls calls;
    return calls;
}
}  // namespace

CFileVersion getFileVersion(const CFilePath& path)
{
    CFileVersion version;
    const CVersionCalls& calls = versionCalls();
    if (calls.infoSize == nullptr || calls.info == nullptr || calls.queryValue == nullptr)
    {
        return version;
    }
    DWORD handle = 0;
    const DWORD size = calls.infoSize(path.c_str(), &handle);
    if (size == 0)
    {
        return version;
    }
    std::vector<BYTE> buffer(size);
    if (!calls.info(path.c_str(), handle, size, buffer.data()))
    {
        return version;
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    // A version block without its fixed part (or a damaged one) reports a shorter value: what lies
    // there is no version, and the structure may reach past the data.
    if (!calls.queryValue(buffer.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || fixed == nullptr ||
        length < sizeof(VS_FIXEDFILEINFO))
    {
        return version;
    }
    version.major = HIWORD(fixed->dwFileVersionMS);
    version.minor = LOWORD(fixed->dwFileVersionMS);
    version.build = HIWORD(fixed->dwFileVersionLS);
    version.revision = LOWORD(fixed->dwFileVersionLS);
    return version;
}
