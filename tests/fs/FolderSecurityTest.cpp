#include "win/FolderSecurity.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <cstdint>
#include <vector>

// The rule on descriptors as Windows keeps them (Wine shows only what a Unix mode can say).
TEST(FolderSecurity, OnlyTheSystemAndTheAdministratorsMayChangeAProtectedFolder)
{
    const std::wstring user = L"S-1-5-21-1-2-3-1001";
    const struct
    {
        const wchar_t* sddl;
        bool writableByOthers;
        // The process user counts as trusted (under Wine).
        bool userTrusted = false;
    } cases[] = {
        // Program Files: users read and run, the creator-owner entry only passes to new entries.
        {L"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
         L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;OICIIO;GA;;;CO)",
         false},
        // A user's own folder and %TEMP%.
        {L"O:S-1-5-21-1-2-3-1001D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;S-1-5-21-1-2-3-1001)", true},
        // Owned by the administrators, but users may add files, add folders, delete children.
        {L"O:BAD:(A;;FA;;;SY)(A;;0x100002;;;BU)", true},
        {L"O:BAD:(A;;0x100004;;;AU)", true},
        {L"O:BAD:(A;;0x100040;;;WD)", true},
        {L"O:BAD:(A;;GW;;;BU)", true},
        {L"O:BAD:(A;;WD;;;BU)", true},
        // The process user under Wine, where the platform trusts it.
        {L"O:S-1-5-21-1-2-3-1001D:(A;OICI;FA;;;S-1-5-21-1-2-3-1001)(A;OICI;0x1200a9;;;WD)", false, true},
        {L"O:S-1-5-21-1-2-3-1001D:(A;OICI;FA;;;S-1-5-21-1-2-3-1001)(A;OICI;0x1301ff;;;WD)", true, true},
    };
    for (const auto& c : cases)
    {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(
            ::ConvertStringSecurityDescriptorToSecurityDescriptorW(c.sddl, SDDL_REVISION_1, &descriptor, nullptr))
            << test::narrow(c.sddl);
        EXPECT_EQ(WinAPI::isDescriptorWritableByOthers(descriptor, c.userTrusted ? user : L""), c.writableByOthers)
            << test::narrow(c.sddl);
        ::LocalFree(descriptor);
    }

    // A null DACL: everyone may do anything. (Wine's SDDL reader makes an empty DACL of
    // "D:NO_ACCESS_CONTROL", so it is built by hand.)
    SECURITY_DESCRIPTOR open{};
    ::InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION);
    std::vector<std::uint8_t> administrators(SECURITY_MAX_SID_SIZE);
    DWORD size = static_cast<DWORD>(administrators.size());
    ASSERT_TRUE(::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators.data(), &size));
    ::SetSecurityDescriptorOwner(&open, administrators.data(), FALSE);
    ::SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE);
    EXPECT_TRUE(WinAPI::isDescriptorWritableByOthers(&open));
}
