#include "fs/SameFile.h"

#include "fs/LowerCase.h"
#include "win/SharedHolder.h"

#include <windows.h>

namespace
{
CSharedHandle openForInformation(const CFilePath& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    const bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // Every sharing is granted: the files compared are typically open for writing elsewhere (a log
    // file is compared while its writer holds it), and a refused open would read as "different".
    constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    return CSharedHandle(::CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                       folder ? FILE_FLAG_BACKUP_SEMANTICS : FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool sameInformation(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b)
{
    const auto sameTime = [](const FILETIME& x, const FILETIME& y) {
        return x.dwLowDateTime == y.dwLowDateTime && x.dwHighDateTime == y.dwHighDateTime;
    };
    return a.dwFileAttributes == b.dwFileAttributes && sameTime(a.ftCreationTime, b.ftCreationTime) &&
           sameTime(a.ftLastAccessTime, b.ftLastAccessTime) && sameTime(a.ftLastWriteTime, b.ftLastWriteTime) &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileSizeHigh == b.nFileSizeHigh &&
           a.nFileSizeLow == b.nFileSizeLow && a.nNumberOfLinks == b.nNumberOfLinks &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}
}  // namespace

bool isSameFile(const CFilePath& first, const CFilePath& second)
{
    if (lowerCaseCopy(first) == lowerCaseCopy(second))
    {
        return true;
    }
    if (first.exists() != second.exists())
    {
        return false;
    }
    const CSharedHandle a = openForInformation(first);
    const CSharedHandle b = openForInformation(second);
    if (!a.isValid() || !b.isValid())
    {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION infoA{};
    BY_HANDLE_FILE_INFORMATION infoB{};
    if (!::GetFileInformationByHandle(a.get(), &infoA) || !::GetFileInformationByHandle(b.get(), &infoB))
    {
        return false;
    }
    return sameInformation(infoA, infoB);
}

bool isSameEntry(const BY_HANDLE_FILE_INFORMATION& first, const BY_HANDLE_FILE_INFORMATION& second)
{
    return first.dwVolumeSerialNumber == second.dwVolumeSerialNumber && first.nFileIndexHigh == second.nFileIndexHigh &&
           first.nFileIndexLow == second.nFileIndexLow;
}

bool isSameEntry(HANDLE first, HANDLE second)
{
    BY_HANDLE_FILE_INFORMATION a{};
    BY_HANDLE_FILE_INFORMATION b{};
    return ::GetFileInformationByHandle(first, &a) && ::GetFileInformationByHandle(second, &b) && isSameEntry(a, b);
}
