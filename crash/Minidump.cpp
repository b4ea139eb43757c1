#include "crash/Minidump.h"

#include "crash/ReportFormat.h"
#include "fs/OwnEntry.h"
#include "win/ErrorText.h"
#include "win/ProcessCalls.h"
#include "win/SystemCalls.h"

CFilePath minidumpPath()
{
    return CFilePath::combine(WinAPI::getTempPath(),
                              CFilePath(WinAPI::getModuleFileName()).fileName().withExtension(L"dump"));
}

void writeMinidump(const CDebugHelp& help, const CFault& fault)
{
    // Data segments, handles, unloaded modules, private read-write memory, the full memory map
    // and thread information (0x1A25).
    constexpr auto kDumpType = static_cast<MINIDUMP_TYPE>(
        MiniDumpWithDataSegs | MiniDumpWithHandleData | MiniDumpWithUnloadedModules |
        MiniDumpWithPrivateReadWriteMemory | MiniDumpWithFullMemoryInfo | MiniDumpWithThreadInfo);
    static_assert(kDumpType == 0x1A25);

    CUniqueFile file;
    const CFilePath path = firstOwnName(minidumpPath(), [&file](const CFilePath& name) {
        file = createOwnFile(name);
        return file.isValid();
    });
    MINIDUMP_EXCEPTION_INFORMATION exception{};
    exception.ThreadId = fault.threadId;
    exception.ExceptionPointers = fault.pointers;
    exception.ClientPointers = TRUE;

    DWORD error = ERROR_PROC_NOT_FOUND;
    if (help.miniDumpWriteDump != nullptr)
    {
        if (help.miniDumpWriteDump(::GetCurrentProcess(), ::GetCurrentProcessId(), file.get(), kDumpType, &exception,
                                   nullptr, nullptr))
        {
            crashLine(L"Successfully created minidump in " + path, kSeverityWarning);
            return;
        }
        error = ::GetLastError();
    }
    crashLine(L"Failed creating minidump in " + path + L". Error message: " + WinAPI::getErrorText(error));
}
