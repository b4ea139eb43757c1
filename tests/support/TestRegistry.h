#pragma once

#include <windows.h>
#include <string>

namespace test
{
// A registry key of this test under a hive, made of uniquePath() and optional subkeys: created at
// once; at the end of the test the key of uniquePath() is removed with everything below it. Two
// keys made with the same path under HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE stand for one key
// path seen in both hives.
class CTestRegKey
{
public:
    CTestRegKey(HKEY hive, const std::wstring& path);
    ~CTestRegKey();
    CTestRegKey(const CTestRegKey&) = delete;
    CTestRegKey& operator=(const CTestRegKey&) = delete;

    // A unique path below HKEY_*\SOFTWARE for one test.
    static std::wstring uniquePath();

    const std::wstring& path() const { return m_path; }
    HKEY key() const { return m_key; }
    void setValue(const std::wstring& name, DWORD type, const void* data, std::size_t size) const;
    void setDword(const std::wstring& name, DWORD value) const;
    // The text with its terminator.
    void setString(const std::wstring& name, const std::wstring& text, DWORD type = REG_SZ) const;

private:
    HKEY m_hive;
    std::wstring m_path;
    HKEY m_key = nullptr;
};
}  // namespace test
