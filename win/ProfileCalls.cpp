#include "win/ProfileCalls.h"

#include "win/GrowBuffer.h"

#include <windows.h>

#include <cwchar>
#include <limits>
#include <vector>

namespace WinAPI
{
std::wstring getPrivateProfileString(const std::wstring& section, const std::wstring& key,
                                     const std::wstring& defaultText, const std::wstring& filePath)
{
    // A text that fills the buffer up to its terminator may have been cut: that count is the
    // platform's only sign of truncation.
    const auto buffer = growAndRetry<wchar_t>(
        128,
        [&](std::vector<wchar_t>& b) -> std::optional<std::size_t> {
            const DWORD count = ::GetPrivateProfileStringW(section.c_str(), key.c_str(), defaultText.c_str(), b.data(),
                                                           static_cast<DWORD>(b.size()), filePath.c_str());
            return count >= b.size() - 1 ? std::optional<std::size_t>(doubled(b.size())) : std::nullopt;
        },
        std::numeric_limits<DWORD>::max());
    return std::wstring(buffer.data(), ::wcsnlen(buffer.data(), buffer.size()));
}

unsigned getPrivateProfileInt(const std::wstring& section, const std::wstring& key, int defaultValue,
                              const std::wstring& filePath)
{
    return ::GetPrivateProfileIntW(section.c_str(), key.c_str(), defaultValue, filePath.c_str());
}
}  // namespace WinAPI
