#include "win/RegistryCalls.h"

#include "win/GrowBuffer.h"
#include "win/TavException.h"

#include <limits>

namespace
{
// The key itself when the open produced one; -1 and null make an empty holder.
CSharedRegKey holderOf(HKEY key)
{
    return RegKeyTraits::isValid(key) ? CSharedRegKey(key) : CSharedRegKey();
}
}  // namespace

namespace WinAPI
{
bool regKeyExists(HKEY parent, const std::wstring& subkey)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(parent, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    {
        return false;
    }
    holderOf(key).reset();
    return true;
}

CSharedRegKey regOpenKeyEx(HKEY parent, const std::wstring& subkey)
{
    HKEY key = nullptr;
    const LONG result = ::RegOpenKeyExW(parent, subkey.c_str(), 0, KEY_READ, &key);
    if (result != ERROR_SUCCESS)
    {
        throw CTavException(static_cast<std::uint32_t>(result), L"WinAPI::regOpenKeyEx() failed for " + subkey);
    }
    return holderOf(key);
}

bool regValueExists(HKEY key, const std::wstring& name)
{
    DWORD type = 0;
    DWORD size = 0;
    const LONG result = ::RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size);
    return result == ERROR_SUCCESS || result == ERROR_MORE_DATA;
}

RegValue regQueryValueEx(HKEY key, const std::wstring& name)
{
    // The size a refused call reports is not trusted (the value may grow in between): the
    // buffer only doubles, and the next call tells again whether it is enough.
    DWORD type = 0;
    DWORD size = 0;
    LONG result = ERROR_SUCCESS;
    auto buffer = growAndRetry<std::uint8_t>(
        128,
        [&](std::vector<std::uint8_t>& b) -> std::optional<std::size_t> {
            size = static_cast<DWORD>(b.size());
            result = ::RegQueryValueExW(key, name.c_str(), nullptr, &type, b.data(), &size);
            return result == ERROR_MORE_DATA ? std::optional<std::size_t>(doubled(b.size())) : std::nullopt;
        },
        std::numeric_limits<DWORD>::max());
    if (result != ERROR_SUCCESS)
    {
        throw CTavException(static_cast<std::uint32_t>(result), L"WinAPI::regQueryValueEx failed for " + name);
    }
    buffer.resize(size);
    return RegValue{name, std::move(buffer), type};
}
}  // namespace WinAPI
