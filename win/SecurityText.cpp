#include "win/SecurityText.h"

#include "win/TavException.h"
#include "win/WinText.h"

#include <sddl.h>

CSecurityFromText::CSecurityFromText(const wchar_t* sddl, const std::wstring& failure)
{
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &m_descriptor, nullptr))
    {
        WinAPI::throwLastError(failure + L" The security " + sddl + L" is invalid.");
    }
}

CSecurityFromText::~CSecurityFromText()
{
    ::LocalFree(m_descriptor);
}
