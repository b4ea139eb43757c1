#include "app/CommandLine.h"
#include "app/CopyDeleter.h"
#include "app/Entry.h"
#include "app/OwnImage.h"
#include "win/CrashHalt.h"
#include "win/Library.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    restrictDllSearchPath();
    // A copy started to delete the executable does only that: no log, no run.
    if (const std::optional<int> deleterResult = App::runCopyDeleter(::GetCommandLineW()))
    {
        return *deleterResult;
    }
    // First of all a run's own work: the sooner the file is held, the less time anyone has to
    // rename the running program away and put another file at its name.
    if (CCommandLine(::GetCommandLineW()).getOption(L"DeleteSelf") != nullptr)
    {
        App::holdOwnImage();
    }
    const int result = App::entry();
    // A crash on another thread (one a loaded library started, say) while the run ended: its
    // report is still being written, and the crash ends the process with its own exit code.
    CCrashHalt::point();
    return result;
}
