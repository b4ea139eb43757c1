#include "app/FinalDeleter.h"

#include "app/CopyDeleter.h"
#include "app/DriverLog.h"
#include "app/ScriptDeleter.h"
#include "win/ProcessCalls.h"
#include "win/SystemCalls.h"
#include "win/TavException.h"

void startFinalDeleter(const CDeleterJob& job)
{
    if (!startScriptDeleter(job))
    {
        startCopyDeleter(job);
    }
}

namespace
{
// The temporary folder, or the Windows folder's own where that lies inside the folder the run
// deletes.
CFilePath deleterBase(const std::optional<CPlace>& target)
{
    const CFilePath temp = WinAPI::getTempPath();
    if (!target || !target->contains(CPlace::ofPath(temp)))
    {
        return temp;
    }
    const CFilePath windowsTemp = CFilePath::combine(WinAPI::getWindowsDirectory(), L"Temp");
    driverLine(kSeverityInfo, L"The temporary folder lies in the folder to be deleted; the final deleter starts from ",
               windowsTemp);
    return windowsTemp;
}
}  // namespace

void startFinalDeleter(const std::optional<CPlace>& target)
{
    CDeleterJob job;
    try
    {
        job.executable = WinAPI::getModuleFileName();
        job.folder = deleterBase(target);
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
