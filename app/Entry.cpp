#include "app/Entry.h"

#include "app/CommandLine.h"
#include "app/DriverLog.h"
#include "app/Run.h"
#include "crash/CrashTranslator.h"
#include "log/TraceLog.h"
#include "win/TavException.h"

#include <windows.h>

#include <optional>

namespace App
{
int entry()
{
    // The crash translator comes first: a structured exception from now on, the opening of the
    // log and its header included, leaves a minidump and a crash report in the log and ends the
    // process with exit code 1.
    installCrashTranslator();

    // Parsed once: the log takes its own two options from it, the run the rest.
    std::optional<CCommandLine> options;
    try
    {
        options.emplace(::GetCommandLineW());
        CTraceLog::open(::GetCurrentThreadId(), options->logOptions());
    }
    catch (...)
    {
        // Without a usable log the folder is still removed; the exit value tells the caller.
    }

    int result = -1;
    try
    {
        if (!options)
        {
            options.emplace(::GetCommandLineW());
        }
        result = run(*options);
    }
    catch (const CTavException& error)
    {
        driverLine(kSeverityError, L"Caught exception: ", error.fullText());
        result = -1;
    }
    catch (...)
    {
        driverLine(kSeverityError, L"Caught unknown exception");
        result = -1;
    }

    if (result == 0)
    {
        driverLine(kSeverityInfo, L"Tidewell finished successfully.");
    }
    else
    {
        driverLine(result == kExitRestartRequired ? kSeverityWarning : kSeverityError, L"Tidewell return value: ",
                   result);
    }
    return result;
}
}  // namespace App
