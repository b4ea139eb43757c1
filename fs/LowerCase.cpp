#include "fs/LowerCase.h"

#include <cwctype>

std::wstring lowerCaseCopy(const std::wstring& text)
{
    std::wstring copy = text;
    for (wchar_t& c : copy)
    {
        c = static_cast<wchar_t>(std::towlower(c));
    }
    return copy;
}
