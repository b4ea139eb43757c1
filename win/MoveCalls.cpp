#include "win/MoveCalls.h"

#include "win/SecurityText.h"
#include "win/TavException.h"
#include "win/WinText.h"

#include <aclapi.h>
#include <sddl.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace
{
std::wstring sidText(PSID sid, const std::wstring& message)
{
    LPWSTR text = nullptr;
    if (!::ConvertSidToStringSidW(sid, &text))
    {
        WinAPI::throwLastError(message);
    }
    std::wstring result(text);
    ::LocalFree(text);
    return result;
}
// One kind of information about this process's token, in a buffer aligned for the record.
std::vector<std::uint64_t> tokenInformation(TOKEN_INFORMATION_CLASS kind, const std::wstring& message)
{
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
    {
        WinAPI::throwLastError(message);
    }
    const CUniqueHandle holder(token);
    DWORD size = 0;
    ::GetTokenInformation(token, kind, nullptr, 0, &size);
    std::vector<std::uint64_t> buffer(size / sizeof(std::uint64_t) + 1);
    if (!::GetTokenInformation(token, kind, buffer.data(), static_cast<DWORD>(buffer.size() * sizeof(std::uint64_t)),
                               &size))
    {
        WinAPI::throwLastError(message);
    }
    return buffer;
}
}  // namespace

namespace WinAPI
{
std::wstring getVolumePathName(const std::wstring& path)
{
    // The root is never longer than the path itself plus its backslash.
    std::vector<wchar_t> buffer(path.size() + 2);
    if (!::GetVolumePathNameW(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size())))
    {
        throwLastError(L"WinAPI::getVolumePathName(" + path + L") failed.");
    }
    std::wstring root = textOf(buffer);
    if (root.empty() || root.back() != L'\\')
    {
        root += L'\\';
    }
    return root;
}

BY_HANDLE_FILE_INFORMATION getFileInformationByHandle(HANDLE entry, const std::wstring& shownPath)
{
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(entry, &information))
    {
        throwLastError(L"WinAPI::getFileInformationByHandle(" + shownPath + L") failed.");
    }
    return information;
}

CUniqueFile openPlainFolder(const std::wstring& path, const wchar_t* sddl, DWORD attributesWhenCreated, bool& created)
{
    const std::wstring message = L"WinAPI::openPlainFolder(" + path + L") failed.";
    created = false;
    {
        const CSecurityFromText security(sddl, message);
        SECURITY_ATTRIBUTES attributes{};
        attributes.nLength = sizeof attributes;
        attributes.lpSecurityDescriptor = security.get();
        created = ::CreateDirectoryW(path.c_str(), &attributes) != FALSE;
        if (created)
        {
            ::SetFileAttributesW(path.c_str(), attributesWhenCreated);
        }
        else if (const DWORD error = ::GetLastError(); error != ERROR_ALREADY_EXISTS)
        {
            throw CTavException(error, message);
        }
    }
    CUniqueFile folder(::CreateFileW(path.c_str(),
                                     FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!folder.isValid())
    {
        throwLastError(message);
    }
    const DWORD attributes = getFileInformationByHandle(folder.get(), path).dwFileAttributes;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
    {
        throw CTavException(ERROR_DIRECTORY, message);
    }
    return folder;
}

std::wstring getOwner(HANDLE entry, const std::wstring& shownPath)
{
    const std::wstring message = L"WinAPI::getOwner(" + shownPath + L") failed.";
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error = ::GetSecurityInfo(entry, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                                          nullptr, &descriptor);
    if (error != ERROR_SUCCESS)
    {
        throw CTavException(error, message);
    }
    // The owner points into the descriptor, which is freed once the text is made.
    const std::unique_ptr<void, decltype(&::LocalFree)> holder(descriptor, &::LocalFree);
    return sidText(owner, message);
}

std::wstring getProcessUser()
{
    const std::wstring message = L"WinAPI::getProcessUser() failed.";
    const std::vector<std::uint64_t> user = tokenInformation(TokenUser, message);
    return sidText(reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid, message);
}

std::wstring getProcessDefaultOwner()
{
    const std::wstring message = L"WinAPI::getProcessDefaultOwner() failed.";
    const std::vector<std::uint64_t> owner = tokenInformation(TokenOwner, message);
    return sidText(reinterpret_cast<const TOKEN_OWNER*>(owner.data())->Owner, message);
}
}  // namespace WinAPI
