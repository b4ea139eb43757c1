#include "win/SystemCalls.h"

#include "win/GrowBuffer.h"
#include "win/TavException.h"
#include "win/WinText.h"

#include <shellapi.h>
#include <shlobj.h>
// RtlGenRandom (advapi32's SystemFunction036).
#include <ntsecapi.h>

namespace
{
// Calls that return the count they need (with the terminator) when the buffer is too small, and 0
// when they fail: grow to that count plus 10 and call again.
template <class Call>
std::wstring folderByReport(Call call, const wchar_t* failure)
{
    DWORD count = 0;
    const auto buffer = growAndRetry<wchar_t>(MAX_PATH + 1, [&](std::vector<wchar_t>& b) -> std::optional<std::size_t> {
        count = call(WinAPI::sizeOf(b), b.data());
        return count > b.size() ? std::optional<std::size_t>(count + 10) : std::nullopt;
    });
    if (count == 0)
    {
        WinAPI::throwLastError(failure);
    }
    return WinAPI::textOf(buffer);
}

// Calls with an in/out size that fail with sizeError and report the size they need.
template <class Call>
std::wstring nameBySizeError(Call call, std::size_t initialSize, DWORD sizeError, const wchar_t* failure)
{
    DWORD error = ERROR_SUCCESS;
    const auto buffer = growAndRetry<wchar_t>(initialSize, [&](std::vector<wchar_t>& b) -> std::optional<std::size_t> {
        DWORD size = WinAPI::sizeOf(b);
        error = call(b.data(), &size) ? ERROR_SUCCESS : ::GetLastError();
        return error == sizeError ? std::optional<std::size_t>(size + 2) : std::nullopt;
    });
    if (error != ERROR_SUCCESS)
    {
        throw CTavException(error, failure);
    }
    return WinAPI::textOf(buffer);
}
}  // namespace

namespace WinAPI
{
std::wstring getTempPath()
{
    return folderByReport([](DWORD length, wchar_t* buffer) { return ::GetTempPathW(length, buffer); },
                          L"WinAPI::getTempPath() failed.");
}

std::wstring getWindowsDirectory()
{
    return folderByReport([](DWORD length, wchar_t* buffer) { return ::GetWindowsDirectoryW(buffer, length); },
                          L"WinAPI::getWindowsDirectory() failed.");
}

std::wstring getSystemDirectory()
{
    return folderByReport([](DWORD length, wchar_t* buffer) { return ::GetSystemDirectoryW(buffer, length); },
                          L"WinAPI::getSystemDirectory() failed.");
}

std::wstring getCurrentDirectory()
{
    return folderByReport([](DWORD length, wchar_t* buffer) { return ::GetCurrentDirectoryW(length, buffer); },
                          L"WinAPI::getCurrentDirectory() failed.");
}

void setCurrentDirectory(const std::wstring& path)
{
    if (!::SetCurrentDirectoryW(path.c_str()))
    {
        throwLastError(L"WinAPI::setCurrentDirectory(" + path + L") failed.");
    }
}

std::wstring shGetSpecialFolderPath()
{
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    if (!::SHGetSpecialFolderPathW(nullptr, buffer.data(), CSIDL_PROGRAM_FILES, TRUE) || buffer[0] == L'\0')
    {
        throw CTavException(ERROR_FILE_NOT_FOUND, L"WinAPI::shGetSpecialFolderPath() failed.");
    }
    return textOf(buffer);
}

std::wstring getComputerName()
{
    return nameBySizeError([](wchar_t* buffer, DWORD* size) { return ::GetComputerNameW(buffer, size); }, 16,
                           ERROR_BUFFER_OVERFLOW, L"WinAPI::getComputerName() failed.");
}

std::wstring getUserName()
{
    return nameBySizeError([](wchar_t* buffer, DWORD* size) { return ::GetUserNameW(buffer, size); }, 257,
                           ERROR_INSUFFICIENT_BUFFER, L"WinAPI::getUserName() failed.");
}

bool hasAdministratorsGroup()
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                    &administrators))
    {
        throwLastError(L"WinAPI::hasAdministratorsGroup() failed.");
    }
    BOOL member = FALSE;
    const BOOL checked = ::CheckTokenMembership(nullptr, administrators, &member);
    const DWORD error = ::GetLastError();
    ::FreeSid(administrators);
    if (!checked)
    {
        throw CTavException(error, L"WinAPI::hasAdministratorsGroup() failed.");
    }
    return member != FALSE;
}

std::wstring expandEnvironmentStrings(const std::wstring& text)
{
    if (text.empty())
    {
        return text;
    }
    DWORD count = 0;
    const auto buffer =
        growAndRetry<wchar_t>(2 * text.size(), [&](std::vector<wchar_t>& b) -> std::optional<std::size_t> {
            count = ::ExpandEnvironmentStringsW(text.c_str(), b.data(), sizeOf(b));
            return count > b.size() ? std::optional<std::size_t>(doubled(b.size())) : std::nullopt;
        });
    if (count == 0)
    {
        throwLastError(L"WinAPI::expandEnvironmentStrings(" + text + L") failed.");
    }
    return textOf(buffer);
}
std::wstring getKnownFolderPath(REFKNOWNFOLDERID folder, const wchar_t* name)
{
    PWSTR path = nullptr;
    const HRESULT result = ::SHGetKnownFolderPath(folder, KF_FLAG_DONT_VERIFY, nullptr, &path);
    if (FAILED(result))
    {
        ::CoTaskMemFree(path);
        // A failure of the call carries a Windows error in its low word (HRESULT_FROM_WIN32).
        const std::uint32_t code =
            HRESULT_FACILITY(result) == FACILITY_WIN32 ? HRESULT_CODE(result) : static_cast<std::uint32_t>(result);
        throw CTavException(code, std::wstring(L"WinAPI::getKnownFolderPath(") + name + L") failed.");
    }
    std::wstring text = path != nullptr ? path : L"";
    ::CoTaskMemFree(path);
    // Wine answers a folder that the 32-bit view lacks (the 64-bit Program Files) with S_FALSE and an
    // empty path.
    if (text.empty())
    {
        throw CTavException(ERROR_PATH_NOT_FOUND, std::wstring(L"WinAPI::getKnownFolderPath(") + name + L") failed.");
    }
    return text;
}

std::uint32_t getLogicalDrives()
{
    const DWORD drives = ::GetLogicalDrives();
    if (drives == 0)
    {
        throwLastError(L"WinAPI::getLogicalDrives() failed.");
    }
    return drives;
}

MEMORYSTATUSEX globalMemoryStatus()
{
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!::GlobalMemoryStatusEx(&status))
    {
        throwLastError(L"WinAPI::globalMemoryStatus() failed.");
    }
    return status;
}

std::uint64_t genRandom()
{
    std::uint64_t value = 0;
    if (!::RtlGenRandom(&value, sizeof value))
    {
        // It sets no last error.
        throw CTavException(ERROR_GEN_FAILURE, L"WinAPI::genRandom() failed.");
    }
    return value;
}

std::vector<std::wstring> commandLineToArgv(const std::wstring& commandLine)
{
    int count = 0;
    LPWSTR* arguments = ::CommandLineToArgvW(commandLine.c_str(), &count);
    if (arguments == nullptr)
    {
        return {};
    }
    std::vector<std::wstring> result;
    try
    {
        result.assign(arguments, arguments + count);
    }
    catch (...)
    {
        ::LocalFree(arguments);
        throw;
    }
    ::LocalFree(arguments);
    return result;
}

void tryWriteStandardError(std::string_view text)
{
    const HANDLE output = ::GetStdHandle(STD_ERROR_HANDLE);
    if (output != nullptr && output != INVALID_HANDLE_VALUE && ::GetFileType(output) != FILE_TYPE_UNKNOWN)
    {
        DWORD written = 0;
        ::WriteFile(output, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
}
}  // namespace WinAPI
