// A run with /DeleteSelf whose executable's name and time for retries the test chooses:
//   tw_selfdelete <file> <retry seconds> <milliseconds to run on>
// starts the final deleter for <file> (a name of this program's own file) and runs on for the
// given time. The copy the deleter starts is a copy of this program and runs the deleter mode, as
// Tidewell's does. Exit code 3 when the deleter could not start.
#include "app/CopyDeleter.h"
#include "app/FinalDeleter.h"
#include "win/SystemCalls.h"

#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv)
{
    if (const std::optional<int> deleterResult = App::runCopyDeleter(::GetCommandLineW()))
    {
        return *deleterResult;
    }
    if (argc != 4)
    {
        return 2;
    }
    CDeleterJob job;
    job.executable = CFilePath(argv[1]);
    job.retrySeconds = static_cast<std::uint32_t>(std::wcstoul(argv[2], nullptr, 10));
    job.folder = WinAPI::getTempPath();
    if (!App::startFinalDeleter(job))
    {
        return 3;
    }
    ::Sleep(static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10)));
    return 0;
}
