#include "win/ProcessCalls.h"

#include "win/GrowBuffer.h"
#include "win/TavException.h"
#include "win/WinText.h"

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

CSharedHandle getCurrentProcess()
{
    return CSharedHandle(::GetCurrentProcess());
}

void shellExecuteEx(SHELLEXECUTEINFOW& request)
{
    if (!::ShellExecuteExW(&request))
    {
        throwLastError(L"WinAPI::shellExecuteEx(" + std::wstring(request.lpFile != nullptr ? request.lpFile : L"") +
                       L") failed.");
    }
}

CSharedHandle createProcess(const std::wstring& application, const std::wstring& commandLine, DWORD flags,
                            const std::wstring& currentDirectory)
{
    // CreateProcessW may write into the command line: hand it a private copy.
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, FALSE, flags, nullptr,
                          currentDirectory.empty() ? nullptr : currentDirectory.c_str(), &startup, &process))
    {
        throwLastError(L"WinAPI::createProcess(" + commandLine + L") failed.");
    }
    CSharedHandle thread(process.hThread);
    return CSharedHandle(process.hProcess);
}
}  // namespace WinAPI
