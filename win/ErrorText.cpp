#include "win/ErrorText.h"

#include <windows.h>

#include <cstdio>

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
}  // namespace WinAPI
