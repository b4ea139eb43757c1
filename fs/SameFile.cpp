#include "fs/SameFile.h"

#include "fs/LowerCase.h"
#include "win/FileCalls.h"
#include "win/MoveCalls.h"
#include "win/TavException.h"

#include <optional>

namespace
{
// The identity of the entry a path opens (never through a link at its name); none when nothing
// can be opened there.
std::optional<BY_HANDLE_FILE_INFORMATION> identityOf(const CFilePath& path)
{
    try
    {
        const CUniqueFile entry = WinAPI::openToIdentify(path);
        return WinAPI::getFileInformationByHandle(entry.get(), path);
    }
    catch (const CTavException&)
    {
        return std::nullopt;
    }
}
}  // namespace

bool isSameFile(const CFilePath& first, const CFilePath& second)
{
    const auto a = identityOf(first);
    const auto b = identityOf(second);
    if (a && b)
    {
        return isSameEntry(*a, *b);
    }
    // Two names of which neither leads anywhere can only be told apart by their texts.
    return !a && !b && lowerCaseCopy(first) == lowerCaseCopy(second);
}

bool isSameEntry(const BY_HANDLE_FILE_INFORMATION& first, const BY_HANDLE_FILE_INFORMATION& second)
{
    return first.dwVolumeSerialNumber == second.dwVolumeSerialNumber && first.nFileIndexHigh == second.nFileIndexHigh &&
           first.nFileIndexLow == second.nFileIndexLow;
}

bool isSameEntry(HANDLE first, HANDLE second)
{
    try
    {
        return isSameEntry(WinAPI::getFileInformationByHandle(first, L"first handle"),
                           WinAPI::getFileInformationByHandle(second, L"second handle"));
    }
    catch (const CTavException&)
    {
        return false;
    }
}
