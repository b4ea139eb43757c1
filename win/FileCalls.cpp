#include "win/FileCalls.h"

#include "win/CrashHalt.h"
#include "win/Deadline.h"
#include "win/GrowBuffer.h"
#include "win/SystemCalls.h"
#include "win/TavException.h"
#include "win/WinText.h"

#include <winioctl.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <cwchar>

namespace
{
constexpr ULONGLONG kDeleteWaitMs = 3000;

bool startsWith(const std::wstring& text, const wchar_t* lead)
{
    return text.compare(0, std::wcslen(lead), lead) == 0;
}

// '*' and '?' as well as the DOS wildcards that a directory search also expands.
bool hasWildcard(const std::wstring& path)
{
    const std::size_t start = (startsWith(path, L"\\\\?\\") || startsWith(path, L"\\\\.\\")) ? 4 : 0;
    return path.find_first_of(L"*?<>\"", start) != std::wstring::npos;
}
}  // namespace

namespace WinAPI
{
void throwLastError(const std::wstring& message)
{
    throw CTavException(::GetLastError(), message);
}

bool isMissing(std::uint32_t error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

std::wstring fullpath(const std::wstring& path)
{
    if (path.empty())
    {
        return getCurrentDirectory();
    }
    DWORD count = 0;
    const auto buffer = growAndRetry<wchar_t>(MAX_PATH + 1, [&](std::vector<wchar_t>& b) -> std::optional<std::size_t> {
        count = ::GetFullPathNameW(path.c_str(), sizeOf(b), b.data(), nullptr);
        return count >= b.size() ? std::optional<std::size_t>(count + 1) : std::nullopt;
    });
    if (count == 0)
    {
        throwLastError(L"WinAPI::fullpath() failed: invalid path " + path);
    }
    return textOf(buffer);
}

std::wstring getTempFileName(const std::wstring& folder, const std::wstring& prefix)
{
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    if (::GetTempFileNameW(folder.c_str(), prefix.c_str(), 0, buffer.data()) == 0)
    {
        throwLastError(L"WinAPI::getTempFileName(" + folder + L", " + prefix + L", 0) failed.");
    }
    return textOf(buffer);
}

SplitPath splitpath(const std::wstring& path)
{
    wchar_t drive[4];
    wchar_t directory[257];
    wchar_t fileName[257];
    wchar_t extension[257];
    if (::_wsplitpath_s(path.c_str(), drive, 4, directory, 257, fileName, 257, extension, 257) != 0)
    {
        throwLastError(L"WinAPI::splitpath(" + path + L") failed.");
    }
    return {drive, directory, fileName, extension};
}

std::wstring makepath(const SplitPath& parts)
{
    wchar_t path[260];
    if (::_wmakepath_s(path, 260, parts.drive.c_str(), parts.directory.c_str(), parts.fileName.c_str(),
                       parts.extension.c_str()) != 0)
    {
        throwLastError(L"WinAPI::makepath() failed.");
    }
    return path;
}

void deleteFile(const std::wstring& path)
{
    deleteFile(path, path);
}

void deleteFile(const std::wstring& shownPath, const std::wstring& systemPath)
{
    CCrashHalt::point();
    if (!::DeleteFileW(systemPath.c_str()))
    {
        const DWORD error = ::GetLastError();
        if (isMissing(error))
        {
            return;
        }
        throw CTavException(error, L"WinAPI::deleteFile(" + shownPath + L") failed.");
    }
    // A file deleted while others hold it open (with delete sharing) stays visible until their
    // handles close; its folder cannot be removed before that. Wait for it, but not forever.
    const CDeadline deadline(kDeleteWaitMs);
    while (pathExists(systemPath))
    {
        if (!deadline.pause(5))
        {
            throw CTavException(ERROR_TIMEOUT, L"WinAPI::deleteFile(" + shownPath + L") failed.");
        }
        ::DeleteFileW(systemPath.c_str());
    }
}

std::uint32_t tryDeleteFile(const std::wstring& path)
{
    try
    {
        deleteFile(path);
        return ERROR_SUCCESS;
    }
    catch (const CTavException& error)
    {
        return error.errorCode;
    }
}

void removeDirectory(const std::wstring& path)
{
    removeDirectory(path, path);
}

void removeDirectory(const std::wstring& shownPath, const std::wstring& systemPath)
{
    CCrashHalt::point();
    if (!::RemoveDirectoryW(systemPath.c_str()))
    {
        const DWORD error = ::GetLastError();
        if (!isMissing(error))
        {
            throw CTavException(error, L"WinAPI::removeDirectory(" + shownPath + L") failed.");
        }
    }
}

void copyFile(const std::wstring& source, const std::wstring& destination)
{
    if (const std::uint32_t error = tryCopyFile(source, destination))
    {
        throw CTavException(error, L"WinAPI::copyFile(" + source + L", " + destination + L") failed.");
    }
}

std::uint32_t tryCopyFile(const std::wstring& source, const std::wstring& destination)
{
    CCrashHalt::point();
    return ::CopyFileW(source.c_str(), destination.c_str(), FALSE) ? ERROR_SUCCESS : ::GetLastError();
}

void moveFile(const std::wstring& source, const std::wstring& destination)
{
    if (const std::uint32_t error = tryMoveFile(source, destination))
    {
        throw CTavException(error, L"WinAPI::moveFile(" + source + L", " + destination + L") failed.");
    }
}

std::uint32_t tryMoveFile(const std::wstring& source, const std::wstring& destination)
{
    CCrashHalt::point();
    return ::MoveFileW(source.c_str(), destination.c_str()) ? ERROR_SUCCESS : ::GetLastError();
}

CUniqueFile createFile(const std::wstring& path)
{
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
    {
        throwLastError(L"WinAPI::createFile(" + path + L") failed.");
    }
    return CUniqueFile(file);
}

CUniqueFile createNewFile(const std::wstring& path)
{
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
    {
        throwLastError(L"WinAPI::createNewFile(" + path + L") failed.");
    }
    return CUniqueFile(file);
}

std::uint32_t tryCreateNewFile(const std::wstring& path, CUniqueFile& file)
{
    const HANDLE created =
        ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | READ_CONTROL, FILE_SHARE_READ, nullptr, CREATE_NEW,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    const DWORD error = created == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
    file = CUniqueFile(created);
    return error;
}

std::uint32_t tryOpenEntryAsItIs(const std::wstring& path, bool folder, CUniqueFile& entry)
{
    const DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT | (folder ? FILE_FLAG_BACKUP_SEMANTICS : 0);
    const HANDLE opened =
        ::CreateFileW(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, flags, nullptr);
    const DWORD error = opened == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
    entry = CUniqueFile(opened);
    return error;
}

CUniqueFile reopenForWriting(HANDLE file, const std::wstring& shownPath)
{
    CUniqueFile reopened(::ReOpenFile(file, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, 0));
    if (!reopened.isValid())
    {
        throwLastError(L"WinAPI::reopenForWriting(" + shownPath + L") failed.");
    }
    return reopened;
}

void truncateFile(HANDLE file, const std::wstring& shownPath)
{
    CCrashHalt::point();
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN) || !::SetEndOfFile(file))
    {
        throwLastError(L"WinAPI::truncateFile(" + shownPath + L") failed.");
    }
}

CUniqueFile openShielded(const std::wstring& path, DWORD access, DWORD flags, bool inheritable)
{
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof attributes;
    attributes.bInheritHandle = inheritable ? TRUE : FALSE;
    HANDLE file = ::CreateFileW(path.c_str(), access, FILE_SHARE_READ, &attributes, OPEN_EXISTING,
                                flags | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
    {
        throwLastError(L"WinAPI::openShielded(" + path + L") failed.");
    }
    return CUniqueFile(file);
}

CUniqueFile openToIdentify(const std::wstring& path, bool inheritable)
{
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof attributes;
    attributes.bInheritHandle = inheritable ? TRUE : FALSE;
    HANDLE entry =
        ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      &attributes, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (entry == INVALID_HANDLE_VALUE)
    {
        throwLastError(L"WinAPI::openToIdentify(" + path + L") failed.");
    }
    return CUniqueFile(entry);
}

CUniqueFile reopenFile(HANDLE file, DWORD access, const std::wstring& shownPath)
{
    HANDLE reopened =
        ::ReOpenFile(file, access | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
    if (reopened == INVALID_HANDLE_VALUE)
    {
        throwLastError(L"WinAPI::reopenFile(" + shownPath + L") failed.");
    }
    return CUniqueFile(reopened);
}

std::string readToEnd(HANDLE file, const std::wstring& shownPath)
{
    std::string content;
    std::vector<char> chunk(std::size_t{64} * 1024);
    for (;;)
    {
        DWORD read = 0;
        if (!::ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &read, nullptr))
        {
            throwLastError(L"WinAPI::readFile(" + shownPath + L") failed.");
        }
        if (read == 0)
        {
            return content;
        }
        content.append(chunk.data(), read);
    }
}

std::vector<std::uint8_t> renameInformation(HANDLE root, const std::wstring& name)
{
    // The structure ends in the first character of the name; the rest follows it.
    std::vector<std::uint8_t> buffer(sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = FALSE;
    info->RootDirectory = root;
    info->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
    std::memcpy(buffer.data() + offsetof(FILE_RENAME_INFO, FileName), name.data(), info->FileNameLength);
    return buffer;
}

CUniqueFindHandle findFirstFile(const std::wstring& pattern, WIN32_FIND_DATAW& data)
{
    // Basic information (no short names) and large fetches: fewer and cheaper calls per entry.
    return CUniqueFindHandle(::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr,
                                                FIND_FIRST_EX_LARGE_FETCH));
}

bool tryFindNextFile(const CUniqueFindHandle& search, WIN32_FIND_DATAW& data)
{
    return ::FindNextFileW(search.get(), &data) != FALSE;
}

void writeFile(HANDLE file, const void* bytes, std::uint32_t count)
{
    DWORD written = 0;
    if (!::WriteFile(file, bytes, count, &written, nullptr) || written != count)
    {
        throwLastError(L"WinAPI::writeFile() failed.");
    }
}

void writeString(HANDLE file, const std::wstring& text)
{
    writeFile(file, text.data(), static_cast<std::uint32_t>(text.size() * sizeof(wchar_t)));
}

void copyContent(HANDLE from, HANDLE to)
{
    std::vector<char> buffer(std::size_t{64} * 1024);
    for (std::uint64_t offset = 0;;)
    {
        // An explicit offset: the source's file pointer belongs to whoever writes it.
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD read = 0;
        if (!::ReadFile(from, buffer.data(), static_cast<DWORD>(buffer.size()), &read, &at))
        {
            if (::GetLastError() == ERROR_HANDLE_EOF)
            {
                return;
            }
            throwLastError(L"WinAPI::copyContent() failed.");
        }
        if (read == 0)
        {
            return;
        }
        writeFile(to, buffer.data(), read);
        offset += read;
    }
}

std::uint32_t trySetCompression(HANDLE file)
{
    USHORT format = COMPRESSION_FORMAT_DEFAULT;
    DWORD returned = 0;
    return ::DeviceIoControl(file, FSCTL_SET_COMPRESSION, &format, sizeof format, nullptr, 0, &returned, nullptr)
               ? ERROR_SUCCESS
               : ::GetLastError();
}

void flushFileBuffers(HANDLE file)
{
    if (!::FlushFileBuffers(file))
    {
        throwLastError(L"WinAPI::flushFileBuffers() failed.");
    }
}

std::uint64_t setFilePointer(HANDLE file, LONG distance, DWORD method)
{
    // With the high part given, a position beyond 4 GB is no failure; only the last error tells.
    LONG high = distance < 0 ? -1 : 0;
    ::SetLastError(ERROR_SUCCESS);
    const DWORD low = ::SetFilePointer(file, distance, &high, method);
    if (low == INVALID_SET_FILE_POINTER && ::GetLastError() != ERROR_SUCCESS)
    {
        throwLastError(L"WinAPI::setFilePointer() failed.");
    }
    return (static_cast<std::uint64_t>(static_cast<DWORD>(high)) << 32) | low;
}

bool createDirectory(const std::wstring& path)
{
    if (::CreateDirectoryW(path.c_str(), nullptr))
    {
        return true;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_ALREADY_EXISTS)
    {
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        {
            return true;
        }
    }
    throw CTavException(error, L"WinAPI::createDirectory(" + path + L") failed.");
}

std::uint32_t tryCreateNewDirectory(const std::wstring& path)
{
    return ::CreateDirectoryW(path.c_str(), nullptr) ? ERROR_SUCCESS : ::GetLastError();
}

UINT getDriveType(const std::wstring& path)
{
    std::wstring drive;
    if (!path.empty())
    {
        drive = splitpath(path).drive;
    }
    if (drive.empty())
    {
        return ::GetDriveTypeW(nullptr);
    }
    return ::GetDriveTypeW((drive + L"\\").c_str());
}

std::wstring tryGetLongPathName(const std::wstring& path)
{
    DWORD count = 0;
    const auto buffer = growAndRetry<wchar_t>(MAX_PATH + 1, [&](std::vector<wchar_t>& b) -> std::optional<std::size_t> {
        count = ::GetLongPathNameW(path.c_str(), b.data(), sizeOf(b));
        return count >= b.size() ? std::optional<std::size_t>(count + 1) : std::nullopt;
    });
    return count == 0 ? path : std::wstring(buffer.data(), count);
}

CUniqueFile openToLocate(const std::wstring& path)
{
    CUniqueFile entry(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!entry.isValid())
    {
        const DWORD error = ::GetLastError();
        if (!isMissing(error))
        {
            throw CTavException(error, L"WinAPI::openToLocate(" + path + L") failed.");
        }
    }
    return entry;
}

std::wstring getFinalPathName(HANDLE entry, const std::wstring& shownPath, bool dosVolume)
{
    const DWORD flags = FILE_NAME_NORMALIZED | (dosVolume ? VOLUME_NAME_DOS : VOLUME_NAME_NT);
    DWORD count = 0;
    const auto buffer = growAndRetry<wchar_t>(MAX_PATH + 1, [&](std::vector<wchar_t>& b) -> std::optional<std::size_t> {
        count = ::GetFinalPathNameByHandleW(entry, b.data(), sizeOf(b), flags);
        return count >= b.size() ? std::optional<std::size_t>(count + 1) : std::nullopt;
    });
    if (count == 0)
    {
        throwLastError(L"WinAPI::getFinalPathName(" + shownPath + L") failed.");
    }
    return std::wstring(buffer.data(), count);
}
}  // namespace WinAPI

bool pathExists(const std::wstring& path)
{
    if (path.empty())
    {
        return false;
    }
    if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
    {
        return true;
    }
    const DWORD error = ::GetLastError();
    if (WinAPI::isMissing(error) || error == ERROR_INVALID_NAME || hasWildcard(path))
    {
        return false;
    }
    // Attributes can fail for entries that exist (a file in use by the system); a search sees them.
    WIN32_FIND_DATAW data;
    return WinAPI::findFirstFile(path, data).isValid();
}
