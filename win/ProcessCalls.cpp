#include "win/ProcessCalls.h"

#include "win/GrowBuffer.h"
#include "win/NativeCalls.h"
#include "win/TavException.h"
#include "win/WinText.h"

#include <tlhelp32.h>

#include <optional>
#include <utility>

namespace
{
// The attribute list that limits inheritance to the given handles.
class CInheritedHandles
{
public:
    explicit CInheritedHandles(std::vector<HANDLE> handles) : m_handles(std::move(handles))
    {
        SIZE_T size = 0;
        ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        m_buffer.resize(size);
        if (!::InitializeProcThreadAttributeList(list(), 1, 0, &size))
        {
            WinAPI::throwLastError(L"WinAPI::initializeProcThreadAttributeList() failed.");
        }
        m_initialized = true;
        if (!::UpdateProcThreadAttribute(list(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, m_handles.data(),
                                         m_handles.size() * sizeof(HANDLE), nullptr, nullptr))
        {
            WinAPI::throwLastError(L"WinAPI::updateProcThreadAttribute() failed.");
        }
    }
    ~CInheritedHandles()
    {
        if (m_initialized)
        {
            ::DeleteProcThreadAttributeList(list());
        }
    }
    CInheritedHandles(const CInheritedHandles&) = delete;
    CInheritedHandles& operator=(const CInheritedHandles&) = delete;

    LPPROC_THREAD_ATTRIBUTE_LIST list() { return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(m_buffer.data()); }

private:
    std::vector<HANDLE> m_handles;
    std::vector<unsigned char> m_buffer;
    bool m_initialized = false;
};
}  // namespace

namespace WinAPI
{
std::wstring getModuleFileName(HMODULE module)
{
    DWORD count = 0;
    const auto buffer = growAndRetry<wchar_t>(MAX_PATH + 1, [&](std::vector<wchar_t>& b) -> std::optional<std::size_t> {
        count = ::GetModuleFileNameW(module, b.data(), sizeOf(b));
        // A full buffer may hold a cut path.
        return count != 0 && count == b.size() ? std::optional<std::size_t>(doubled(b.size())) : std::nullopt;
    });
    if (count == 0)
    {
        throwLastError(L"WinAPI::getModuleFileName() failed.");
    }
    return std::wstring(buffer.data(), count);
}

std::wstring tryGetModuleFileName(HMODULE module)
{
    try
    {
        return getModuleFileName(module);
    }
    catch (const CTavException&)
    {
        return std::wstring();
    }
}

CUniqueHandle getCurrentProcess()
{
    return CUniqueHandle(::GetCurrentProcess());
}

StartedProcess createProcess(const std::wstring& application, const std::wstring& commandLine, DWORD flags,
                             const std::wstring& currentDirectory, const std::vector<HANDLE>& inherited)
{
    // CreateProcessW may write into the command line: hand it a private copy.
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup.StartupInfo;
    std::optional<CInheritedHandles> handles;
    if (!inherited.empty())
    {
        handles.emplace(inherited);
        startup.StartupInfo.cb = sizeof startup;
        startup.lpAttributeList = handles->list();
        flags |= EXTENDED_STARTUPINFO_PRESENT;
    }
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, handles.has_value(), flags, nullptr,
                          currentDirectory.empty() ? nullptr : currentDirectory.c_str(), &startup.StartupInfo,
                          &process))
    {
        throwLastError(L"WinAPI::createProcess(" + commandLine + L") failed.");
    }
    return {CUniqueHandle(process.hProcess), CUniqueHandle(process.hThread)};
}

namespace
{
HANDLE duplicate(HANDLE handle, DWORD access, bool inheritable)
{
    HANDLE copy = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), handle, ::GetCurrentProcess(), &copy, access, inheritable, 0))
    {
        throwLastError(L"WinAPI::duplicateHandle() failed.");
    }
    return copy;
}
}  // namespace

CUniqueHandle duplicateHandle(HANDLE handle, DWORD access, bool inheritable)
{
    return CUniqueHandle(duplicate(handle, access, inheritable));
}

CUniqueFile duplicateFileHandle(HANDLE file, DWORD access, bool inheritable)
{
    return CUniqueFile(duplicate(file, access, inheritable));
}

std::uint32_t tryGetProcessId(HANDLE process)
{
    return ::GetProcessId(process);
}

std::uint32_t getParentProcessId()
{
    PROCESS_BASIC_INFORMATION information{};
    const LONG status = native().queryInformationProcess(::GetCurrentProcess(), ProcessBasicInformation, &information,
                                                         sizeof information, nullptr);
    if (status < 0)
    {
        throw CTavException(native().statusToError(status), L"WinAPI::getParentProcessId() failed.");
    }
    return static_cast<std::uint32_t>(information.InheritedFromUniqueProcessId);
}

std::wstring getProcessImageName(HANDLE process)
{
    DWORD count = 0;
    DWORD error = ERROR_SUCCESS;
    const auto buffer = growAndRetry<wchar_t>(MAX_PATH + 1, [&](std::vector<wchar_t>& b) -> std::optional<std::size_t> {
        count = sizeOf(b);
        error = ::QueryFullProcessImageNameW(process, 0, b.data(), &count) ? ERROR_SUCCESS : ::GetLastError();
        return error == ERROR_INSUFFICIENT_BUFFER ? std::optional<std::size_t>(doubled(b.size())) : std::nullopt;
    });
    if (error != ERROR_SUCCESS)
    {
        throw CTavException(error, L"WinAPI::getProcessImageName() failed.");
    }
    return std::wstring(buffer.data(), count);
}

bool isInJob()
{
    BOOL inJob = FALSE;
    if (!::IsProcessInJob(::GetCurrentProcess(), nullptr, &inJob))
    {
        throwLastError(L"WinAPI::isInJob() failed.");
    }
    return inJob != FALSE;
}

CUniqueHandle openProcessToWait(std::uint32_t processId)
{
    CUniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, processId));
    if (!process.isValid())
    {
        const DWORD error = ::GetLastError();
        // The only answer for an id that names no process.
        if (error != ERROR_INVALID_PARAMETER)
        {
            throw CTavException(error, L"WinAPI::openProcess(" + std::to_wstring(processId) + L") failed.");
        }
    }
    return process;
}

std::wstring getProcessImageName(std::uint32_t processId)
{
    const CUniqueFile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.isValid())
    {
        throwLastError(L"WinAPI::createToolhelp32Snapshot() failed.");
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry))
    {
        if (entry.th32ProcessID == processId)
        {
            return entry.szExeFile;
        }
    }
    return std::wstring();
}

void waitForever(HANDLE object, const std::wstring& shownName)
{
    if (::WaitForSingleObject(object, INFINITE) == WAIT_FAILED)
    {
        throwLastError(L"WinAPI::waitForSingleObject(" + shownName + L") failed.");
    }
}
}  // namespace WinAPI
