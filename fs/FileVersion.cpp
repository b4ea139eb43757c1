#include "fs/FileVersion.h"

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

CFileVersion getFileVersion(const CFilePath& path)
{
    CFileVersion version;
    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (size == 0)
    {
        return version;
    }
    std::vector<BYTE> buffer(size);
    if (!::GetFileVersionInfoW(path.c_str(), handle, size, buffer.data()))
    {
        return version;
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    // A version block without its fixed part (or a damaged one) reports a shorter value: what lies
    // there is no version, and the structure may reach past the data.
    if (!::VerQueryValueW(buffer.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || fixed == nullptr ||
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
