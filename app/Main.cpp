#include "app/CopyDeleter.h"
#include "app/Entry.h"
#include "win/Library.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    restrictDllSearchPath();
    // A copy started to delete the executable does only that: no log, no run.
    if (const std::optional<int> deleterResult = runCopyDeleter(::GetCommandLineW()))
    {
        return *deleterResult;
    }
    return entry();
}
