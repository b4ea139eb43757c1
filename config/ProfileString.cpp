#include "config/ProfileString.h"

#include <windows.h>

#include <cwchar>
#include <limits>
#include <vector>

namespace WinAPI
{
std::wstring getPrivateProfileString(const std::wstring& section, const std::wstring& key,
                                     const std::wstring& defaultText, const std::wstring& filePath)
{
    std::vector<wchar_t> buffer(128);
    const auto read = [&] {
        return ::GetPrivateProfileStringW(section.c_str(), key.c_str(), defaultText.c_str(), buffer.data(),
                                          static_cast<DWORD>(buffer.size()), filePath.c_str());
    };
    // A text that fills the buffer up to its terminator may have been cut: that count is the
    // platform's only sign of truncation.
    DWORD count = read();
    while (count >= buffer.size() - 1 && buffer.size() <= std::numeric_limits<DWORD>::max() / 2)
    {
        buffer.assign(2 * buffer.size(), L'\0');
        count = read();
    }
    return std::wstring(buffer.data(), ::wcsnlen(buffer.data(), buffer.size()));
}
}  // namespace WinAPI
