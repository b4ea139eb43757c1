#include "TestSupport.h"

#include "fs/WinAPI.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

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

bool isLogLine(const std::wstring& line)
{
    return line.size() >= 25 && line[2] == L':' && line[5] == L':' && line[8] == L' ';
}

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
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void makeFolder(const std::wstring& path)
{
    ASSERT_TRUE(::CreateDirectoryW(path.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS);
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

CFilePath buildFolder()
{
    return WinAPI::getModuleFileName().parent();
}

CFilePath tidewellExe()
{
    return CFilePath::combine(buildFolder(), L"Tidewell.exe");
}

CFilePath childExe()
{
    return CFilePath::combine(buildFolder(), L"tw_child.exe");
}

CFilePath crashExe()
{
    return CFilePath::combine(buildFolder(), L"tw_crash.exe");
}

CFilePath copyProgram(const CFilePath& program, const std::wstring& folder, const std::wstring& name)
{
    const CFilePath copy = CFilePath::combine(folder, name + L".exe");
    if (!::CopyFileW(program.c_str(), copy.c_str(), FALSE))
    {
        ADD_FAILURE() << "cannot copy " << std::string(program.begin(), program.end()) << ", error " << ::GetLastError();
    }
    return copy;
}

CFilePath copyTidewell(const std::wstring& folder, const std::wstring& name)
{
    const CFilePath copy = CFilePath::combine(folder, name + L".exe");
    if (!::CopyFileW(tidewellExe().c_str(), copy.c_str(), FALSE))
    {
        ADD_FAILURE() << "cannot copy Tidewell.exe, error " << ::GetLastError();
    }
    return copy;
}

CFilePath defaultLogPath(const std::wstring& name)
{
    CFilePath folder = WinAPI::shGetSpecialFolderPath();
    return CFilePath::combine(folder, L"QOR\\QorSetup\\LOGs\\" + name + L".log");
}

std::vector<std::wstring> readLogLines(const std::wstring& path)
{
    const std::string bytes = readBytes(path);
    std::wstring text(bytes.size() / 2, L'\0');
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        text[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                       (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    }
    if (!text.empty() && text[0] == 0xFEFF)
    {
        text.erase(0, 1);
    }
    std::vector<std::wstring> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2)
    {
        lines.push_back(text.substr(start, end - start));
    }
    if (start < text.size())
    {
        lines.push_back(text.substr(start));
    }
    return lines;
}

std::wstring lineText(const std::wstring& line)
{
    return line.size() > 25 ? line.substr(25) : std::wstring();
}

wchar_t lineSeverity(const std::wstring& line)
{
    return line.size() > 22 ? line[22] : L'?';
}

CProcess::~CProcess()
{
    if (info.hProcess != nullptr)
    {
        ::CloseHandle(info.hProcess);
        ::CloseHandle(info.hThread);
    }
}

std::uint32_t CProcess::wait(DWORD timeoutMs)
{
    if (::WaitForSingleObject(info.hProcess, timeoutMs) != WAIT_OBJECT_0)
    {
        ::TerminateProcess(info.hProcess, 0xDEADBEEF);
        return 0xDEADBEEF;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(info.hProcess, &code);
    return code;
}

void start(CProcess& process, const std::wstring& exe, const std::wstring& arguments,
           const std::wstring& currentDirectory)
{
    std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    ASSERT_TRUE(::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 currentDirectory.empty() ? nullptr : currentDirectory.c_str(), &startup,
                                 &process.info))
        << "cannot start program, error " << ::GetLastError();
}

std::uint32_t runProgram(const std::wstring& exe, const std::wstring& arguments, DWORD timeoutMs)
{
    CProcess process;
    start(process, exe, arguments);
    return process.info.hProcess != nullptr ? process.wait(timeoutMs) : 0xDEADBEEF;
}

CEvent::CEvent(const std::wstring& name)
    : m_name(uniqueName(name)), m_handle(::CreateEventW(nullptr, TRUE, FALSE, m_name.c_str()))
{
}

CEvent::~CEvent()
{
    ::CloseHandle(m_handle);
}

bool CEvent::wait(DWORD timeoutMs) const
{
    return ::WaitForSingleObject(m_handle, timeoutMs) == WAIT_OBJECT_0;
}

void CEvent::set() const
{
    ::SetEvent(m_handle);
}

CChildHolder::CChildHolder(const std::wstring& command, const std::wstring& target)
    : m_ready(L"ready"), m_release(L"release")
{
    start(m_child, childExe(), command + L" \"" + target + L"\" " + m_ready.name() + L" " + m_release.name());
    m_holds = m_ready.wait();
    EXPECT_TRUE(m_holds) << "the child does not hold " << narrow(target);
}

void CChildHolder::release()
{
    m_release.set();
    if (m_child.info.hProcess != nullptr)
    {
        m_child.wait();
        ::CloseHandle(m_child.info.hProcess);
        ::CloseHandle(m_child.info.hThread);
        m_child.info = PROCESS_INFORMATION{};
    }
}

std::vector<std::wstring> CRunResult::eventLines() const
{
    std::vector<std::wstring> result;
    for (const std::wstring& line : lines)
    {
        if (isLogLine(line) || line.compare(0, 25, std::wstring(25, L' ')) == 0)
        {
            result.push_back(line);
        }
    }
    return result;
}

std::vector<std::wstring> CRunResult::texts() const
{
    std::vector<std::wstring> result;
    for (const std::wstring& line : eventLines())
    {
        result.push_back(lineText(line));
    }
    return result;
}

CTestRegKey::CTestRegKey(HKEY hive, const std::wstring& path) : m_hive(hive), m_path(path)
{
    const LONG result =
        ::RegCreateKeyExW(hive, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &m_key, nullptr);
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
    const LONG result = ::RegSetValueExW(m_key, name.c_str(), 0, type, static_cast<const BYTE*>(data),
                                         static_cast<DWORD>(size));
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

std::size_t indexOf(const std::vector<std::wstring>& texts, const std::wstring& wanted)
{
    return static_cast<std::size_t>(std::find(texts.begin(), texts.end(), wanted) - texts.begin());
}

CRunResult runTidewell(const std::wstring& folder, const std::wstring& name, const std::wstring& arguments,
                       DWORD timeoutMs)
{
    const CFilePath exe = copyTidewell(folder, name);
    CRunResult result;
    result.exitCode = runProgram(exe, arguments, timeoutMs);
    result.lines = readLogLines(defaultLogPath(name));
    ::DeleteFileW(defaultLogPath(name).c_str());
    return result;
}
}  // namespace test
