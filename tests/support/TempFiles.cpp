#include "support/TempFiles.h"

#include <aclapi.h>
#include <sddl.h>

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace test
{
namespace
{
std::wstring systemTemp()
{
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, buffer);
    return std::wstring(buffer, length);
}
}  // namespace

std::wstring uniqueName(const std::wstring& stem)
{
    static LONG counter = 0;
    return stem + L"_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
           std::to_wstring(::InterlockedIncrement(&counter)) + L"_" + std::to_wstring(::GetTickCount() % 100000);
}

CTempDir::CTempDir() : m_path(CFilePath::combine(systemTemp(), uniqueName(L"tw")))
{
    if (!::CreateDirectoryW(m_path.c_str(), nullptr))
    {
        throw std::runtime_error("cannot create the test folder");
    }
}

CTempDir::~CTempDir()
{
    removeTree(m_path);
}

void removeTree(const std::wstring& path)
{
    std::error_code ignored;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(
             path, std::filesystem::directory_options::skip_permission_denied, ignored))
    {
        ::SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    std::filesystem::remove_all(path, ignored);
}

void writeTextFile(const std::wstring& path, const std::string& content)
{
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "cannot create " << std::string(path.begin(), path.end());
    DWORD written = 0;
    ::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    ::CloseHandle(file);
}

std::string readBytes(const std::wstring& path)
{
    // Shared with everything, so a reader never keeps a program from renaming the file (a log's
    // rotation while a test polls it, say).
    const HANDLE file =
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, 0, nullptr);
    std::string bytes;
    if (file == INVALID_HANDLE_VALUE)
    {
        return bytes;
    }
    char chunk[64 * 1024];
    DWORD read = 0;
    while (::ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read != 0)
    {
        bytes.append(chunk, read);
    }
    ::CloseHandle(file);
    return bytes;
}

void makeFolder(const std::wstring& path)
{
    ASSERT_TRUE(::CreateDirectoryW(path.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS);
}

void letEveryoneWrite(const std::wstring& folder)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;WD)", SDDL_REVISION_1, &descriptor, nullptr));
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    ::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    const DWORD error = ::SetNamedSecurityInfoW(const_cast<wchar_t*>(folder.c_str()), SE_FILE_OBJECT,
                                                DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl, nullptr);
    ::LocalFree(descriptor);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_SUCCESS));
}

bool exists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool waitUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    while (!condition())
    {
        if (::GetTickCount64() >= deadline)
        {
            return false;
        }
        ::Sleep(10);
    }
    return true;
}

namespace
{
std::wstring environmentValue(const wchar_t* name)
{
    std::wstring value(32767, L'\0');
    value.resize(::GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size())));
    return value;
}
}  // namespace

CTempFolderOverride::CTempFolderOverride(const std::wstring& folder)
    : m_tmp(environmentValue(L"TMP")), m_temp(environmentValue(L"TEMP"))
{
    ::SetEnvironmentVariableW(L"TMP", folder.c_str());
    ::SetEnvironmentVariableW(L"TEMP", folder.c_str());
}

CTempFolderOverride::~CTempFolderOverride()
{
    ::SetEnvironmentVariableW(L"TMP", m_tmp.empty() ? nullptr : m_tmp.c_str());
    ::SetEnvironmentVariableW(L"TEMP", m_temp.empty() ? nullptr : m_temp.c_str());
}

std::string narrow(const std::wstring& text)
{
    std::string result;
    for (wchar_t c : text)
    {
        result += c < 128 ? static_cast<char>(c) : '?';
    }
    return result;
}
}  // namespace test
