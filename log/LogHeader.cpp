#include "log/LogHeader.h"

#include "fs/FileVersion.h"
#include "win/FileCalls.h"
#include "win/Library.h"
#include "win/Platform.h"
#include "win/ProcessCalls.h"
#include "win/SystemCalls.h"
#include "win/TavException.h"

#include <ctime>
#include <cwchar>
#include <iomanip>
#include <sstream>
#include <vector>

namespace
{
const wchar_t* const kSystemLibraries[] = {L"atl.dll",      L"comctl32.dll", L"mfc42.dll",   L"msvcrt.dll",
                                           L"oleaut32.dll", L"shell32.dll",  L"shlwapi.dll", L"msi.dll"};
const wchar_t* const kSetupLibraries[] = {L"MxQorSetupEngine.dll", L"MxQorSetupATLCommon.dll", L"MxQorSetupUi.dll",
                                          L"MxQorTavUt.dll", L"MxQorTavLg.dll"};
constexpr const wchar_t* kInformationLibrary = L"MxQorTavUt.dll";

// The record exchanged with the information library: 32-bit fields on the 32-bit product.
struct CSystemInformation
{
    std::uint32_t size;
    const wchar_t* text;
    std::uint32_t isAdministrator;
};
#if TIDEWELL_X86
static_assert(sizeof(CSystemInformation) == 12, "the information library expects a 12-byte record");
#endif
using GetGeneralSystemInfoFn = void(__cdecl*)(CSystemInformation*);

struct CMachineDescription
{
    std::wstring operatingSystem = L"n/a";
    bool administrator = false;
    // Why a copy of the library beside the executable was not loaded; empty when none was left.
    std::wstring passedOver;
};

// The information library is taken only from the executable's folder, where nobody but the
// system and the administrators can write to it, or the system folder: a file of that name
// planted anywhere else is never loaded.
CMachineDescription describeMachine()
{
    CMachineDescription description;
    const COptionalLibrary loaded = loadOptionalLibrary(kInformationLibrary);
    if (!loaded.passedOver.empty())
    {
        description.passedOver = loaded.passedOverText();
    }
    const auto getInfo = findFunction<GetGeneralSystemInfoFn>(loaded.library, "GetGeneralSystemInfo86");
    if (getInfo != nullptr)
    {
        CSystemInformation record{sizeof(CSystemInformation), nullptr, 0};
        getInfo(&record);
        if (record.text != nullptr)
        {
            description.operatingSystem = record.text;
        }
        description.administrator = (record.isAdministrator & 0xFF) != 0;
    }
    return description;
}

std::wstring startedLogging()
{
    const std::time_t now = std::time(nullptr);
    const std::tm* local = std::localtime(&now);
    wchar_t text[32] = L"";
    if (local != nullptr)
    {
        std::wcsftime(text, 32, L"%a %b %d %H:%M:%S %Y", local);
    }
    return text;
}

// A value of the machine or the run, or the error that keeps it from being read: a header that
// cannot say one thing still says the rest.
std::wstring valueOrError(std::wstring (*read)())
{
    try
    {
        return read();
    }
    catch (const CTavException& error)
    {
        return L"<ERROR " + std::to_wstring(error.errorCode) + L">";
    }
}

std::wstring memoryLine()
{
    const MEMORYSTATUSEX status = WinAPI::globalMemoryStatus();
    return formatMemory(status.ullAvailPhys, status.ullTotalPhys);
}

class CHeaderWriter
{
public:
    explicit CHeaderWriter(HANDLE file) : m_file(file) {}

    void raw(const std::wstring& text) { WinAPI::writeString(m_file, text); }
    void line(const std::wstring& text = L"") { raw(L"   " + text + L"\r\n"); }
    void libraries(const wchar_t* heading, const wchar_t* const* names, std::size_t count)
    {
        line(heading);
        line(std::wstring(std::wcslen(heading), L'-'));
        line();
        for (std::size_t i = 0; i < count; ++i)
        {
            CFileVersion version = getFileVersion(CFilePath(names[i]));
            line(formatLibraryRow(names[i], version.text()));
        }
    }

private:
    HANDLE m_file;
};
}  // namespace

std::wstring formatUptime(std::int64_t totalSeconds)
{
    const std::int64_t minutes = totalSeconds / 60;
    const std::int64_t hours = minutes / 60;
    const std::int64_t days = hours / 24;
    std::wostringstream text;
    text << days << (days >= 2 ? L" days, " : L" day, ") << hours - 24 * days << L':' << std::setfill(L'0')
         << std::setw(2) << minutes - 60 * hours << L':' << std::setw(2) << totalSeconds - 60 * minutes << L" hours";
    return text.str();
}

std::wstring formatUptime()
{
    LARGE_INTEGER frequency{};
    LARGE_INTEGER counter{};
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&counter);
    return formatUptime(frequency.QuadPart != 0 ? counter.QuadPart / frequency.QuadPart : 0);
}

std::wstring hideOptions(const std::wstring& commandLine)
{
    std::wstring text = commandLine;
    for (std::size_t i = 0; i + 2 < text.size(); ++i)
    {
        if (text[i] == L' ' && text[i + 1] == L'/' && text[i + 2] == L'_')
        {
            std::size_t j = i + 1;
            for (; j < text.size() && text[j] != L' '; ++j)
            {
                text[j] = L' ';
            }
            i = j - 1;
        }
    }
    return text;
}

std::wstring formatMemory(std::uint64_t availableBytes, std::uint64_t totalBytes)
{
    constexpr std::uint64_t kMegabyte = 1048576;
    const auto megabytes = [](std::uint64_t bytes) {
        return static_cast<std::int64_t>((bytes + kMegabyte - 1) / kMegabyte);
    };
    return std::to_wstring(megabytes(availableBytes)) + L" MB of " + std::to_wstring(megabytes(totalBytes)) +
           L" MB free";
}

std::wstring formatLibraryRow(const std::wstring& name, const std::wstring& version)
{
    std::wostringstream row;
    row << std::setw(23) << name << L":     " << version;
    return row.str();
}

std::wstring writeLogHeader(const CTraceConfig& settings, const CLogTarget& target)
{
    const HANDLE file = target.file.get();
    const wchar_t byteOrderMark = 0xFEFF;
    WinAPI::writeFile(file, &byteOrderMark, sizeof byteOrderMark);
    if (settings.sharedFile)
    {
        return L"";
    }
    CHeaderWriter header(file);
    if (settings.appendMode)
    {
        WinAPI::setFilePointer(file, 0, FILE_END);
        header.raw(L"\r\n\r\n\r\n");
    }
    const CMachineDescription machine = describeMachine();
    WinAPI::setFilePointer(file, 0, FILE_END);

    const std::wstring ruler(80, L'*');
    const std::wstring executable = valueOrError([] { return WinAPI::getModuleFileName(); });
    CFileVersion version = getFileVersion(executable);
    header.raw(ruler + L"\r\n");
    header.line();
    header.line(L"Logfile:\t\t" + target.path);
    header.line(L"Started logging:\t" + startedLogging());
    header.line(L"Operating system:\t" + machine.operatingSystem);
    header.line(L"Executing user:\t" + valueOrError(WinAPI::getUserName) +
                (machine.administrator ? L" (Administrator)" : L""));
    header.line(L"Workstation name:\t" + valueOrError(WinAPI::getComputerName));
    header.line(L"Windows directory:\t" + valueOrError(WinAPI::getWindowsDirectory));
    header.line(L"Temp directory:\t" + valueOrError(WinAPI::getTempPath));
    header.line(L"Working directory:\t" + valueOrError(WinAPI::getCurrentDirectory));
    header.line();
    header.line(L"Commandline:\t\t'" + hideOptions(::GetCommandLineW()) + L"'");
    header.line(L"Executable:\t\t'" + executable + L"'");
    header.line(L"Version:\t\t" + version.text());
    header.line(L"ProcessId:\t\t" + std::to_wstring(::GetCurrentProcessId()));
    header.line(L"ThreadId:\t\t" + std::to_wstring(::GetCurrentThreadId()));
    header.line(L"Physical memory:\t" + valueOrError(memoryLine));
    header.line(L"System Uptime:\t" + formatUptime());
    header.line();
    header.libraries(L"System libraries information", kSystemLibraries, std::size(kSystemLibraries));
    header.line();
    header.libraries(L"QOR Setup libraries information", kSetupLibraries, std::size(kSetupLibraries));
    header.line();
    header.raw(ruler + L"\r\n\r\n\r\n");
    WinAPI::flushFileBuffers(file);
    return machine.passedOver;
}
