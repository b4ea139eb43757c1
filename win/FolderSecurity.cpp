#include "win/FolderSecurity.h"

#include "win/MoveCalls.h"
#include "win/NativeCalls.h"
#include "win/TavException.h"

#include <aclapi.h>
#include <sddl.h>

#include <memory>

namespace
{
constexpr const wchar_t* kTrustedSids[] = {
    L"S-1-5-18",                                                        // the system
    L"S-1-5-32-544",                                                    // the administrators
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",  // the installer service
};

// The rights that let a holder put entries into a folder, take them out or give itself more.
constexpr ACCESS_MASK kChangingRights =
    FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

bool isTrusted(PSID sid, const std::wstring& trustedUser)
{
    LPWSTR text = nullptr;
    if (sid == nullptr || !::IsValidSid(sid) || !::ConvertSidToStringSidW(sid, &text))
    {
        return false;
    }
    const std::unique_ptr<void, decltype(&::LocalFree)> holder(text, &::LocalFree);
    for (const wchar_t* trusted : kTrustedSids)
    {
        if (::_wcsicmp(text, trusted) == 0)
        {
            return true;
        }
    }
    return !trustedUser.empty() && ::_wcsicmp(text, trustedUser.c_str()) == 0;
}

std::wstring trustedUserOfPlatform()
{
    if (!native().followsLinks)
    {
        return L"";
    }
    try
    {
        return WinAPI::getProcessUser();
    }
    catch (const CTavException&)
    {
        return L"";
    }
}
}  // namespace

namespace WinAPI
{
bool isDescriptorWritableByOthers(PSECURITY_DESCRIPTOR descriptor, const std::wstring& trustedUser)
{
    PSID owner = nullptr;
    BOOL ownerDefaulted = FALSE;
    if (!::GetSecurityDescriptorOwner(descriptor, &owner, &ownerDefaulted) || !isTrusted(owner, trustedUser))
    {
        return true;
    }
    BOOL present = FALSE;
    PACL dacl = nullptr;
    BOOL daclDefaulted = FALSE;
    if (!::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &daclDefaulted) || !present || dacl == nullptr)
    {
        return true;
    }
    for (DWORD index = 0; index < dacl->AceCount; ++index)
    {
        void* entry = nullptr;
        if (!::GetAce(dacl, index, &entry))
        {
            return true;
        }
        const auto* header = static_cast<const ACE_HEADER*>(entry);
        if ((header->AceFlags & INHERIT_ONLY_ACE) != 0)
        {
            continue;
        }
        switch (header->AceType)
        {
        case ACCESS_ALLOWED_ACE_TYPE:
        case ACCESS_ALLOWED_CALLBACK_ACE_TYPE:
        {
            // The callback kind has the same layout, followed by its condition.
            auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
            if ((allowed->Mask & kChangingRights) != 0 && !isTrusted(&allowed->SidStart, trustedUser))
            {
                return true;
            }
            break;
        }
        case ACCESS_ALLOWED_COMPOUND_ACE_TYPE:
        case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
        case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
            if ((static_cast<const ACCESS_ALLOWED_ACE*>(entry)->Mask & kChangingRights) != 0)
            {
                return true;
            }
            break;
        default:
            break;
        }
    }
    return false;
}

CUniqueFile holdFolder(const std::wstring& path)
{
    // Listing access: a handle with only attribute or security access takes part in no sharing
    // check, and would keep no one from renaming the folder.
    return CUniqueFile(
        ::CreateFileW(path.c_str(), READ_CONTROL | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

CUniqueFile holdFileForReading(const std::wstring& path)
{
    return CUniqueFile(::CreateFileW(path.c_str(), READ_CONTROL | FILE_READ_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                     FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
}

bool isWritableByOthers(HANDLE folder)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (folder == nullptr || folder == INVALID_HANDLE_VALUE ||
        ::GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                          nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
    {
        return true;
    }
    const std::unique_ptr<void, decltype(&::LocalFree)> holder(descriptor, &::LocalFree);
    return isDescriptorWritableByOthers(descriptor, trustedUserOfPlatform());
}

bool isFolderWritableByOthers(const std::wstring& folderPath)
{
    const CUniqueFile folder = holdFolder(folderPath);
    return isWritableByOthers(folder.get());
}
}  // namespace WinAPI
