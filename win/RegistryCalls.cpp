#include "win/RegistryCalls.h"

#include "win/CrashHalt.h"
#include "win/GrowBuffer.h"
#include "win/TavException.h"

#include <algorithm>
#include <limits>

namespace
{
// The key itself when the open produced one; -1 and null make an empty holder.
CUniqueRegKey holderOf(HKEY key)
{
    return RegKeyTraits::isValid(key) ? CUniqueRegKey(key) : CUniqueRegKey();
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

CUniqueRegKey regOpenKeyEx(HKEY parent, const std::wstring& subkey, REGSAM access)
{
    HKEY key = nullptr;
    const LONG result = ::RegOpenKeyExW(parent, subkey.c_str(), 0, access, &key);
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

std::optional<RegValue> regQueryValueIfPresent(HKEY key, const std::wstring& name)
{
    // The size a refused call reports is not trusted to be enough (the value may grow in between):
    // the buffer grows to it or doubles, whichever is more, and the next call tells again.
    DWORD type = 0;
    DWORD size = 0;
    LONG result = ERROR_SUCCESS;
    auto buffer = growAndRetry<std::uint8_t>(
        128,
        [&](std::vector<std::uint8_t>& b) -> std::optional<std::size_t> {
            size = static_cast<DWORD>(b.size());
            result = ::RegQueryValueExW(key, name.c_str(), nullptr, &type, b.data(), &size);
            return result == ERROR_MORE_DATA
                       ? std::optional<std::size_t>(std::max<std::size_t>(doubled(b.size()), size))
                       : std::nullopt;
        },
        std::numeric_limits<DWORD>::max());
    if (result == ERROR_FILE_NOT_FOUND)
    {
        return std::nullopt;
    }
    if (result != ERROR_SUCCESS)
    {
        throw CTavException(static_cast<std::uint32_t>(result), L"WinAPI::regQueryValueEx failed for " + name);
    }
    buffer.resize(size);
    return RegValue{name, std::move(buffer), type};
}

RegValue regQueryValueEx(HKEY key, const std::wstring& name)
{
    std::optional<RegValue> value = regQueryValueIfPresent(key, name);
    if (!value)
    {
        throw CTavException(ERROR_FILE_NOT_FOUND, L"WinAPI::regQueryValueEx failed for " + name);
    }
    return std::move(*value);
}

void regSetValueEx(HKEY key, const std::wstring& name, std::uint32_t type, const std::vector<std::uint8_t>& data)
{
    CCrashHalt::point();
    const LONG result = ::RegSetValueExW(key, name.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size()));
    if (result != ERROR_SUCCESS)
    {
        throw CTavException(static_cast<std::uint32_t>(result), L"WinAPI::regSetValueEx failed for " + name);
    }
}

void regDeleteValue(HKEY key, const std::wstring& name)
{
    CCrashHalt::point();
    const LONG result = ::RegDeleteValueW(key, name.c_str());
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND)
    {
        throw CTavException(static_cast<std::uint32_t>(result), L"WinAPI::regDeleteValue failed for " + name);
    }
}
std::vector<std::wstring> regSubkeyNames(HKEY key)
{
    std::vector<std::wstring> names;
    // A key name has at most 255 characters.
    std::vector<wchar_t> name(256);
    for (DWORD index = 0;; ++index)
    {
        DWORD length = static_cast<DWORD>(name.size());
        const LONG result = ::RegEnumKeyExW(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS)
        {
            return names;
        }
        if (result != ERROR_SUCCESS)
        {
            throw CTavException(static_cast<std::uint32_t>(result), L"WinAPI::regEnumKeyEx failed");
        }
        names.emplace_back(name.data(), length);
    }
}
}  // namespace WinAPI
