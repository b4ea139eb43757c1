#include "support/Processes.h"

#include "support/LogReading.h"
#include "support/TempFiles.h"
#include "win/ProcessCalls.h"

#include <gtest/gtest.h>

#include <memory>

namespace test
{
CFilePath buildFolder()
{
    return CFilePath(WinAPI::getModuleFileName()).parent();
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

CFilePath logWriterExe()
{
    return CFilePath::combine(buildFolder(), L"tw_logwriter.exe");
}

CFilePath selfDeleteExe()
{
    return CFilePath::combine(buildFolder(), L"tw_selfdelete.exe");
}

CFilePath copyProgram(const CFilePath& program, const std::wstring& folder, const std::wstring& name)
{
    CFilePath copy = CFilePath::combine(folder, name + L".exe");
    if (!::CopyFileW(program.c_str(), copy.c_str(), FALSE))
    {
        ADD_FAILURE() << "cannot copy " << std::string(program.begin(), program.end()) << ", error "
                      << ::GetLastError();
    }
    return copy;
}

CFilePath copyTidewell(const std::wstring& folder, const std::wstring& name)
{
    return copyProgram(tidewellExe(), folder, name);
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
           const std::wstring& currentDirectory, DWORD creationFlags)
{
    std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    ASSERT_TRUE(::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, creationFlags, nullptr,
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

CChildHolder::CChildHolder(const std::wstring& command, const std::wstring& target, const CFilePath& program)
    : m_ready(L"ready"), m_release(L"release")
{
    start(m_child, program, command + L" \"" + target + L"\" " + m_ready.name() + L" " + m_release.name());
    m_holds = m_ready.wait();
    EXPECT_TRUE(m_holds) << "the child does not hold " << narrow(target);
}

bool CChildHolder::running() const
{
    return m_child.info.hProcess != nullptr && ::WaitForSingleObject(m_child.info.hProcess, 0) == WAIT_TIMEOUT;
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

std::wstring unixPath(const std::wstring& path)
{
    using UnixFileNameFn = char*(__cdecl*)(const wchar_t*);
    const auto toUnix = reinterpret_cast<UnixFileNameFn>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name"));
    if (toUnix == nullptr)
    {
        ADD_FAILURE() << "not running under Wine";
        return L"";
    }
    char* name = toUnix(path.c_str());
    const std::string text = name != nullptr ? name : "";
    ::HeapFree(::GetProcessHeap(), 0, name);
    return std::wstring(text.begin(), text.end());
}

void startUnixProgram(const std::wstring& commandLine)
{
    std::wstring command = commandLine;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    // Wine succeeds without handles for a Unix program and leaves stray values in info (a thread
    // "handle" of 0x24 was seen): closing them would close some other handle of this process,
    // such as its registry key of HKEY_LOCAL_MACHINE. Nothing here is closed.
    ASSERT_TRUE(
        ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
}

void makeUnixLink(const std::wstring& link, const std::wstring& target)
{
    // A link that leads nowhere is invisible to Windows calls: the Unix side leaves a marker once
    // the link is made (Unix programs started by Wine run detached from the handle).
    const std::wstring made = link + L".made";
    startUnixProgram(L"/bin/sh -c \"ln -s '" + unixPath(target) + L"' '" + unixPath(link) + L"' && touch '" +
                     unixPath(made) + L"'\"");
    ASSERT_TRUE(waitUntil([&] { return exists(made); }, 5000)) << "no link at " << narrow(link);
    ::DeleteFileW(made.c_str());
    const DWORD targetAttributes = ::GetFileAttributesW(target.c_str());
    if (targetAttributes == INVALID_FILE_ATTRIBUTES)
    {
        return;
    }
    // Wine shows a link to a folder as a reparse point, a link to a file as a plain file.
    const bool toFolder = (targetAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    ASSERT_EQ((::GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0, toFolder);
}

void removeUnixLink(const std::wstring& link)
{
    // A dangling link is invisible to Windows calls: the Unix side leaves a marker once it is gone.
    const std::wstring unix = unixPath(link);
    const std::wstring gone = link + L".gone";
    startUnixProgram(L"/bin/sh -c \"rm -f '" + unix + L"'; test -L '" + unix + L"' || touch '" + unixPath(gone) +
                     L"'\"");
    EXPECT_TRUE(waitUntil([&] { return exists(gone); }, 5000)) << "link still there: " << narrow(link);
    ::DeleteFileW(gone.c_str());
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
void runTogether(const std::wstring& folder, std::vector<CParallelRun>& runs)
{
    std::vector<std::unique_ptr<CProcess>> processes;
    std::vector<std::wstring> names;
    for (CParallelRun& run : runs)
    {
        names.push_back(uniqueName(L"tw"));
        const CFilePath exe = copyTidewell(folder, names.back());
        processes.push_back(std::make_unique<CProcess>());
        start(*processes.back(), exe, run.arguments, run.currentDirectory);
    }
    for (std::size_t i = 0; i < runs.size(); ++i)
    {
        runs[i].result.exitCode = processes[i]->wait();
        runs[i].result.lines = readLogLines(defaultLogPath(names[i]));
        ::DeleteFileW(defaultLogPath(names[i]).c_str());
    }
}
}  // namespace test
