#include "support/TestRegistry.h"

#include "support/TempFiles.h"

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
}  // namespace test
