#pragma once

#include <windows.h>
#include <string>
#include <vector>

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

// The deletions and renames of the next restart (PendingFileRenameOperations) as they were when
// the object was made, put back byte for byte when it goes: what a test's runs schedule never
// reaches Wine's next start.
class CRestartOperationsKept
{
public:
    CRestartOperationsKept();
    ~CRestartOperationsKept();
    CRestartOperationsKept(const CRestartOperationsKept&) = delete;
    CRestartOperationsKept& operator=(const CRestartOperationsKept&) = delete;

    // The strings of the value now, empty ones included (a deletion is a name and "").
    static std::vector<std::wstring> current();

private:
    bool m_existed = false;
    DWORD m_type = REG_NONE;
    std::vector<BYTE> m_data;
};
}  // namespace test
