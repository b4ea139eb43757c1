#include "support/TestRegistry.h"

#include "support/TempFiles.h"
#include "win/RestartCalls.h"

#include <gtest/gtest.h>

namespace test
{
CTestRegKey::CTestRegKey(HKEY hive, const std::wstring& path) : m_hive(hive), m_path(path)
{
    const LONG result = ::RegCreateKeyExW(hive, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &m_key, nullptr);
    if (result != ERROR_SUCCESS)
    {
        throw std::runtime_error("cannot create the test registry key, error " + std::to_string(result));
    }
}

CTestRegKey::~CTestRegKey()
{
    ::RegCloseKey(m_key);
    // The whole tree of the test below SOFTWARE goes, with the parents this key was made in; any
    // other key goes alone, and only when nothing is below it.
    const std::wstring testRoot = L"SOFTWARE\\TidewellTest";
    if (m_path.compare(0, testRoot.size(), testRoot) != 0)
    {
        ::RegDeleteKeyW(m_hive, m_path.c_str());
        return;
    }
    const std::wstring top = m_path.substr(0, m_path.find(L'\\', testRoot.size()));
    ::RegDeleteTreeW(m_hive, top.c_str());
    ::RegDeleteKeyW(m_hive, top.c_str());
}

std::wstring CTestRegKey::uniquePath()
{
    return L"SOFTWARE\\" + uniqueName(L"TidewellTest");
}

void CTestRegKey::setValue(const std::wstring& name, DWORD type, const void* data, std::size_t size) const
{
    const LONG result =
        ::RegSetValueExW(m_key, name.c_str(), 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size));
    ASSERT_EQ(result, ERROR_SUCCESS) << "cannot set the registry value";
}

void CTestRegKey::setDword(const std::wstring& name, DWORD value) const
{
    setValue(name, REG_DWORD, &value, sizeof value);
}

void CTestRegKey::setString(const std::wstring& name, const std::wstring& text, DWORD type) const
{
    setValue(name, type, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
}

namespace
{
// The value as its strings' characters, its list terminator included (mended where missing);
// false when there is none.
bool readRestartOperations(std::wstring& data)
{
    DWORD size = 0;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, WinAPI::kSessionManagerKey, WinAPI::kPendingOperationsValue,
                       RRF_RT_REG_MULTI_SZ, nullptr, nullptr, &size) != ERROR_SUCCESS)
    {
        return false;
    }
    data.assign(size / sizeof(wchar_t), L'\0');
    const LONG result = ::RegGetValueW(HKEY_LOCAL_MACHINE, WinAPI::kSessionManagerKey, WinAPI::kPendingOperationsValue,
                                       RRF_RT_REG_MULTI_SZ, nullptr, data.data(), &size);
    data.resize(size / sizeof(wchar_t));
    return result == ERROR_SUCCESS;
}
}  // namespace

CRestartOperationsKept::CRestartOperationsKept()
{
    // The bytes as stored, whatever their type (RegGetValueW would mend a missing terminator).
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, WinAPI::kSessionManagerKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    {
        return;
    }
    DWORD size = 0;
    if (::RegQueryValueExW(key, WinAPI::kPendingOperationsValue, nullptr, &m_type, nullptr, &size) == ERROR_SUCCESS)
    {
        m_data.resize(size);
        m_existed = ::RegQueryValueExW(key, WinAPI::kPendingOperationsValue, nullptr, &m_type, m_data.data(), &size) ==
                    ERROR_SUCCESS;
        m_data.resize(size);
    }
    ::RegCloseKey(key);
}

CRestartOperationsKept::~CRestartOperationsKept()
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, WinAPI::kSessionManagerKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
    {
        ADD_FAILURE() << "cannot put the restart's operations back";
        return;
    }
    if (m_existed)
    {
        ::RegSetValueExW(key, WinAPI::kPendingOperationsValue, 0, m_type, m_data.data(),
                         static_cast<DWORD>(m_data.size()));
    }
    else
    {
        ::RegDeleteValueW(key, WinAPI::kPendingOperationsValue);
    }
    ::RegCloseKey(key);
}

std::vector<std::wstring> CRestartOperationsKept::current()
{
    std::wstring data;
    if (!readRestartOperations(data))
    {
        return {};
    }
    if (data.size() >= 2 && data.back() == L'\0' && data[data.size() - 2] == L'\0')
    {
        data.pop_back();  // the list's own terminator
    }
    std::vector<std::wstring> strings;
    for (std::size_t start = 0, end; (end = data.find(L'\0', start)) != std::wstring::npos; start = end + 1)
    {
        strings.push_back(data.substr(start, end - start));
    }
    return strings;
}
}  // namespace test
