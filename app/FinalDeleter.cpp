#include "app/FinalDeleter.h"

#include "app/CopyDeleter.h"
#include "app/DriverLog.h"
#include "app/ScriptDeleter.h"
#include "win/ProcessCalls.h"
#include "win/TavException.h"

void startFinalDeleter(const CDeleterJob& job)
{
    if (!startScriptDeleter(job))
    {
        startCopyDeleter(job);
    }
}

void startFinalDeleter()
{
    CDeleterJob job;
    try
    {
        job.executable = WinAPI::getModuleFileName();
    }
    catch (const CTavException& error)
    {
        driverLine(kSeverityError, L"Could not prepare final deleter. ", error.fullText());
        return;
    }
    job.processId = ::GetCurrentProcessId();
    job.process = ::GetCurrentProcess();
    job.retrySeconds = kRetrySeconds;
    startFinalDeleter(job);
}
