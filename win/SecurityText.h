#pragma once

#include <windows.h>

#include <string>

// A security descriptor made from its SDDL text, freed with the holder.
class CSecurityFromText
{
public:
    // Throws CTavException with failure as its message when the text is no security descriptor.
    CSecurityFromText(const wchar_t* sddl, const std::wstring& failure);
    ~CSecurityFromText();
    CSecurityFromText(const CSecurityFromText&) = delete;
    CSecurityFromText& operator=(const CSecurityFromText&) = delete;

    PSECURITY_DESCRIPTOR get() const { return m_descriptor; }

private:
    PSECURITY_DESCRIPTOR m_descriptor = nullptr;
};
