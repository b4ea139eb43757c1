#include "win/HeldFolder.h"

#include "win/NativeCalls.h"
#include "win/SecurityText.h"
#include "win/TavException.h"
#include "win/WinText.h"

#include <optional>

namespace
{
// FILE_CREATE: only a name that is free (a link at the name is an existing entry); FILE_OPEN: the
// entry there, never through a link.
CUniqueFile openHeld(HANDLE parent, const std::wstring& name, PSECURITY_DESCRIPTOR security, ULONG disposition,
                     const std::wstring& message)
{
    CRelativeName relative(parent, name, OBJ_CASE_INSENSITIVE, security);
    IO_STATUS_BLOCK io{};
    HANDLE handle = nullptr;
    const LONG status = native().createFile(
        &handle, FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE,
        relative.get(), &io, nullptr, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE, disposition,
        FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (status < 0)
    {
        throw CTavException(native().statusToError(status), message);
    }
    CUniqueFile folder(handle);
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(folder.get(), &information))
    {
        WinAPI::throwLastError(message);
    }
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
    {
        throw CTavException(ERROR_DIRECTORY, message);
    }
    return folder;
}
}  // namespace

namespace WinAPI
{
CUniqueFile createHeldFolder(const std::wstring& parentPath, const std::wstring& name, const wchar_t* sddl)
{
    const std::wstring path =
        parentPath.empty() || parentPath.back() == L'\\' ? parentPath + name : parentPath + L"\\" + name;
    const std::wstring message = L"WinAPI::createHeldFolder(" + path + L") failed.";
    const CUniqueFile parent(::CreateFileW(parentPath.c_str(), FILE_TRAVERSE | FILE_ADD_SUBDIRECTORY | SYNCHRONIZE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!parent.isValid())
    {
        throwLastError(message);
    }
    std::optional<CSecurityFromText> security;
    if (sddl != nullptr)
    {
        security.emplace(sddl, message);
    }
    return openHeld(parent.get(), name, security ? security->get() : nullptr, FILE_CREATE, message);
}

CUniqueFile holdFolder(HANDLE parent, const std::wstring& name, const std::wstring& shownPath)
{
    return openHeld(parent, name, nullptr, FILE_OPEN, L"WinAPI::holdFolder(" + shownPath + L") failed.");
}
}  // namespace WinAPI
