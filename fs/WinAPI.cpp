#include "fs/WinAPI.h"

#include <shlobj.h>

#include <cstdio>
#include <cwchar>
#include <vector>

namespace
{
// The text of a zero-terminated buffer.
std::wstring textOf(const std::vector<wchar_t>& buffer)
{
    return std::wstring(buffer.data(), ::wcsnlen(buffer.data(), buffer.size()));
}

[[noreturn]] void throwLastError(const std::wstring& message)
{
    throw CTavException(::GetLastError(), message);
}

// Calls that report the length they need: grow to that count plus 10 and call again.
template <class Call>
CFilePath growByReport(Call call, const wchar_t* failure)
{
    std::vector<wchar_t> buffer(261);
    DWORD count = call(static_cast<DWORD>(buffer.size()), buffer.data());
    while (count > buffer.size())
    {
        buffer.assign(count + 10, L'\0');
        count = call(static_cast<DWORD>(buffer.size()), buffer.data());
    }
    if (count == 0)
    {
        throwLastError(failure);
    }
    return CFilePath(textOf(buffer));
}

// Calls with an in/out size that fail with sizeError and report the size they need.
template <class Call>
std::wstring retryOnSizeError(Call call, DWORD initialSize, DWORD sizeError, const wchar_t* failure)
{
    std::vector<wchar_t> buffer(initialSize);
    for (;;)
    {
        DWORD size = static_cast<DWORD>(buffer.size());
        if (call(buffer.data(), &size))
        {
            return textOf(buffer);
        }
        const DWORD error = ::GetLastError();
        if (error != sizeError)
        {
            throw CTavException(error, failure);
        }
        buffer.assign(size + 2, L'\0');
    }
}

constexpr ULONGLONG kDeleteWaitMs = 3000;
}  // namespace

namespace WinAPI
{
std::wstring getErrorText(std::uint32_t code)
{
    constexpr DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER;
    wchar_t* systemText = nullptr;
    DWORD length = ::FormatMessageW(flags, nullptr, code, 0x409, reinterpret_cast<LPWSTR>(&systemText), 0, nullptr);
    if (length == 0 || systemText == nullptr)
    {
        if (systemText != nullptr)
        {
            ::LocalFree(systemText);
            systemText = nullptr;
        }
        length = ::FormatMessageW(flags, nullptr, code, 0, reinterpret_cast<LPWSTR>(&systemText), 0, nullptr);
    }

    std::wstring text;
    if (length != 0 && systemText != nullptr)
    {
        for (DWORD i = 0; i < length; ++i)
        {
            if (systemText[i] != L'\r' && systemText[i] != L'\n')
            {
                text += systemText[i];
            }
        }
        text += L' ';
    }
    else
    {
        text = L"No message text available. ";
    }
    if (systemText != nullptr)
    {
        ::LocalFree(systemText);
    }

    wchar_t suffix[64];
    std::swprintf(suffix, 64, L"Error code 0x%08x (%u).", static_cast<unsigned>(code), static_cast<unsigned>(code));
    return text + suffix;
}

CFilePath fullpath(const CFilePath& path)
{
    if (path.empty())
    {
        return getCurrentDirectory();
    }
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    DWORD count = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    while (count >= buffer.size())
    {
        buffer.assign(count + 1, L'\0');
        count = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    }
    if (count == 0)
    {
        throwLastError(L"WinAPI::fullpath() failed: invalid path " + path);
    }
    return CFilePath(textOf(buffer));
}

CFilePath getTempPath()
{
    return growByReport([](DWORD length, wchar_t* buffer) { return ::GetTempPathW(length, buffer); },
                        L"WinAPI::getTempPath() failed.");
}

CFilePath getWindowsDirectory()
{
    return growByReport([](DWORD length, wchar_t* buffer) { return ::GetWindowsDirectoryW(buffer, length); },
                        L"WinAPI::getWindowsDirectory() failed.");
}

CFilePath getSystemDirectory()
{
    return growByReport([](DWORD length, wchar_t* buffer) { return ::GetSystemDirectoryW(buffer, length); },
                        L"WinAPI::getSystemDirectory() failed.");
}

CFilePath getCurrentDirectory()
{
    const DWORD needed = ::GetCurrentDirectoryW(0, nullptr);
    std::vector<wchar_t> buffer(needed + 1);
    if (needed == 0 || ::GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data()) == 0)
    {
        throwLastError(L"WinAPI::getCurrentDirectory: GetCurrentDirectory failed ");
    }
    return CFilePath(textOf(buffer));
}

CFilePath getTempFileName(const CFilePath& folder, const std::wstring& prefix)
{
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    if (::GetTempFileNameW(folder.c_str(), prefix.c_str(), 0, buffer.data()) == 0)
    {
        throwLastError(L"WinAPI::getTempFileName(" + folder + L", " + prefix + L", 0) failed.");
    }
    return CFilePath(textOf(buffer));
}

SplitPath splitpath(const CFilePath& path)
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

CFilePath makepath(const SplitPath& parts)
{
    wchar_t path[260];
    if (::_wmakepath_s(path, 260, parts.drive.c_str(), parts.directory.c_str(), parts.fileName.c_str(),
                       parts.extension.c_str()) != 0)
    {
        throwLastError(L"WinAPI::makepath() failed.");
    }
    return CFilePath(path);
}

void deleteFile(const CFilePath& path)
{
    if (path.exists())
    {
        deleteFile(path, path);
    }
}

void deleteFile(const CFilePath& path, const std::wstring& systemPath)
{
    if (!::DeleteFileW(systemPath.c_str()))
    {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND)
        {
            throw CTavException(error, L"WinAPI::deleteFile(" + path + L") failed.");
        }
    }
    // A file deleted while others hold it open (with delete sharing) stays visible until their
    // handles close; its folder cannot be removed before that. Wait for it, but not forever.
    const ULONGLONG deadline = ::GetTickCount64() + kDeleteWaitMs;
    while (pathExists(systemPath))
    {
        if (::GetTickCount64() >= deadline)
        {
            throw CTavException(ERROR_TIMEOUT, L"WinAPI::deleteFile(" + path + L") failed.");
        }
        ::Sleep(5);
        ::DeleteFileW(systemPath.c_str());
    }
}

void removeDirectory(const CFilePath& path)
{
    if (path.exists())
    {
        removeDirectory(path, path);
    }
}

void removeDirectory(const CFilePath& path, const std::wstring& systemPath)
{
    if (!::RemoveDirectoryW(systemPath.c_str()))
    {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
        {
            throw CTavException(error, L"WinAPI::removeDirectory(" + path + L") failed.");
        }
    }
}

void deleteLink(const CFilePath& path, const std::wstring& systemPath)
{
    const std::wstring message = L"WinAPI::deleteLink(" + path + L") failed.";
    const CSharedHandle link(::CreateFileW(systemPath.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                           nullptr));
    if (!link.isValid())
    {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        {
            return;
        }
        throw CTavException(error, message);
    }
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(link.get(), &information))
    {
        throwLastError(message);
    }
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
    {
        // The platform opened the target instead of the link: deleting through this handle
        // would remove the target.
        throw CTavException(ERROR_NOT_A_REPARSE_POINT, message);
    }
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0)
    {
        // A read-only link cannot be deleted; clear the bit on the link itself, through the handle.
        FILE_BASIC_INFO basic{};
        basic.FileAttributes = (information.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY) | FILE_ATTRIBUTE_NORMAL;
        ::SetFileInformationByHandle(link.get(), FileBasicInfo, &basic, sizeof basic);
    }
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (!::SetFileInformationByHandle(link.get(), FileDispositionInfo, &disposition, sizeof disposition))
    {
        throwLastError(message);
    }
}

void copyFile(const CFilePath& source, const CFilePath& destination)
{
    if (!::CopyFileW(source.c_str(), destination.c_str(), FALSE))
    {
        throwLastError(L"WinAPI::copyFile(" + source + L", " + destination + L") failed.");
    }
}

void moveFile(const CFilePath& source, const CFilePath& destination)
{
    if (!::MoveFileW(source.c_str(), destination.c_str()))
    {
        throwLastError(L"WinAPI::moveFile(" + source + L", " + destination + L") failed.");
    }
}

CSharedHandle createFile(const CFilePath& path)
{
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
    {
        throwLastError(L"WinAPI::createFile(" + path + L") failed.");
    }
    return CSharedHandle(file);
}

CSharedFindHandle findFirstFile(const std::wstring& pattern, WIN32_FIND_DATAW& data)
{
    // Basic information (no short names) and large fetches: fewer and cheaper calls per entry.
    return CSharedFindHandle(::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr,
                                                FIND_FIRST_EX_LARGE_FETCH));
}

bool findNextFile(const CSharedFindHandle& search, WIN32_FIND_DATAW& data)
{
    if (::FindNextFileW(search.get(), &data))
    {
        return true;
    }
    if (::GetLastError() == ERROR_NO_MORE_FILES)
    {
        return false;
    }
    throwLastError(L"WinAPI::findNextFile() failed.");
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

void setFilePointer(HANDLE file, LONG distance, DWORD method)
{
    if (::SetFilePointer(file, distance, nullptr, method) == INVALID_SET_FILE_POINTER)
    {
        throwLastError(L"WinAPI::setFilePointer() failed.");
    }
}

bool createDirectory(const CFilePath& path)
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

UINT getDriveType(const CFilePath& path)
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

CFilePath shGetSpecialFolderPath()
{
    SYSTEM_INFO info;
    ::GetNativeSystemInfo(&info);
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    if (!::SHGetSpecialFolderPathW(nullptr, buffer.data(), CSIDL_PROGRAM_FILES, TRUE) || buffer[0] == L'\0')
    {
        throw CTavException(ERROR_FILE_NOT_FOUND, L"WinAPI::shGetSpecialFolderPath() failed.");
    }
    return CFilePath(textOf(buffer));
}

std::wstring getComputerName()
{
    return retryOnSizeError([](wchar_t* buffer, DWORD* size) { return ::GetComputerNameW(buffer, size); }, 16,
                            ERROR_BUFFER_OVERFLOW, L"WinAPI::getComputerName() failed.");
}

std::wstring getUserName()
{
    return retryOnSizeError([](wchar_t* buffer, DWORD* size) { return ::GetUserNameW(buffer, size); }, 257,
                            ERROR_INSUFFICIENT_BUFFER, L"WinAPI::getUserName() failed.");
}

CFilePath getModuleFileName(HMODULE module)
{
    std::vector<wchar_t> buffer(261);
    DWORD count = ::GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    while (count != 0 && count == buffer.size())
    {
        buffer.assign(2 * count, L'\0');
        count = ::GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    }
    if (count == 0)
    {
        throwLastError(L"WinAPI::getModuleFileName() failed.");
    }
    return CFilePath(std::wstring(buffer.data(), count));
}

CSharedHandle getCurrentProcess()
{
    return CSharedHandle(::GetCurrentProcess());
}

CSharedHandle createMutex(const std::wstring& name, bool initialOwner, bool& existed)
{
    // Only ERROR_ALREADY_EXISTS tells that the mutex was there already; never let an earlier
    // call's code stand for it.
    ::SetLastError(ERROR_SUCCESS);
    HANDLE handle = ::CreateMutexW(nullptr, initialOwner ? TRUE : FALSE, name.c_str());
    const DWORD error = ::GetLastError();
    CSharedHandle mutex(handle);
    if (!mutex.isValid())
    {
        throw CTavException(error, L"Error creating mutex " + name);
    }
    existed = error == ERROR_ALREADY_EXISTS;
    return mutex;
}

std::wstring expandEnvironmentStrings(const std::wstring& text)
{
    if (text.empty())
    {
        return text;
    }
    std::vector<wchar_t> buffer(2 * text.size());
    DWORD count = ::ExpandEnvironmentStringsW(text.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    while (count != 0 && count > buffer.size())
    {
        buffer.assign(2 * buffer.size(), L'\0');
        count = ::ExpandEnvironmentStringsW(text.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    }
    if (count == 0)
    {
        throwLastError(L"WinAPI::expandEnvironmentStrings(" + text + L") failed.");
    }
    return textOf(buffer);
}
void shellExecuteEx(SHELLEXECUTEINFOW& request)
{
    if (!::ShellExecuteExW(&request))
    {
        throwLastError(L"WinAPI::shellExecuteEx(" + std::wstring(request.lpFile != nullptr ? request.lpFile : L"") +
                       L") failed.");
    }
}

CSharedHandle createProcess(const CFilePath& application, const std::wstring& commandLine, DWORD flags,
                            const CFilePath& currentDirectory)
{
    // CreateProcessW may write into the command line: hand it a private copy.
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, FALSE, flags, nullptr,
                          currentDirectory.empty() ? nullptr : currentDirectory.c_str(), &startup, &process))
    {
        throwLastError(L"WinAPI::createProcess(" + commandLine + L") failed.");
    }
    CSharedHandle thread(process.hThread);
    return CSharedHandle(process.hProcess);
}
}  // namespace WinAPI
