#include "app/Run.h"

#include "app/CommandLine.h"
#include "app/DeferralLog.h"
#include "app/DriverLog.h"
#include "app/FinalDeleter.h"
#include "app/NumberConversion.h"
#include "fs/FilePath.h"
#include "fs/FolderDeletion.h"
#include "fs/InUseDeferral.h"
#include "fs/TargetPath.h"
#include "log/TraceLog.h"
#include "win/FileCalls.h"
#include "win/NamedMutex.h"
#include "win/TavException.h"

#include <windows.h>

#include <optional>
#include <typeinfo>

namespace
{
// The wait in seconds; 5 when the value is not a number or out of range (negative, or too long
// for a 32-bit millisecond sleep).
std::uint32_t readWait(const std::wstring& value)
{
    try
    {
        const int seconds = convertToNumber(value);
        if (seconds >= 0 && static_cast<std::uint32_t>(seconds) <= kMaxWaitSeconds)
        {
            return static_cast<std::uint32_t>(seconds);
        }
        driverLine(kSeverityError, L"/Wait:", value, L" is out of range (0 to ", kMaxWaitSeconds, L" seconds).");
    }
    catch (const std::bad_cast&)
    {
        driverLine(kSeverityError, L"/Wait:", value, L" can't be converted to number.");
    }
    return 5;
}

void waitForMutex(const std::wstring& name)
{
    driverLine(kSeverityInfo, L"Waiting for mutex ", name);
    CNamedMutex mutex(name);
    CMutexLock lock(mutex.handle());
    driverLine(kSeverityInfo, L"Finished waiting");
    lock.release();
}

// Finds the target, moves a log that lies inside it out of the way and deletes it: 0 when it is
// gone (or was not there), 1 when it could not be removed completely.
int deleteTarget(const CFilePath& path, const CFilePath& shown, CInUseDeferral* deferral)
{
    std::optional<CDeletionTarget> target;
    std::optional<CTavException> failure;
    try
    {
        target = CDeletionTarget::find(path);
    }
    catch (const CTavException& error)
    {
        failure = error;
    }
    if (target)
    {
        // A log inside the folder would keep it alive (and be lost with it).
        CTraceLog::moveOutOf(target->place());
    }
    driverLine(kSeverityInfo, L"Deleting ", shown, L" now.");
    try
    {
        if (failure)
        {
            throw *failure;
        }
        if (target)
        {
            deleteCompletely(*target, {}, deferral);
        }
    }
    catch (const CTavException& error)
    {
        driverLine(kSeverityError, L"Could not remove ", shown, L" completely: ", error.fullText());
        return 1;
    }
    return 0;
}

// Confirms the restart's deletions of the deferral's entries and tells how many wait for the
// restart; 3010 only when every one is in the list.
int finishDeferral(CInUseDeferral& deferral, int result)
{
    try
    {
        deferral.finish();
    }
    catch (const CTavException& error)
    {
        if (deferral.unconfirmedCount() != 0)
        {
            driverLine(kSeverityError, L"Entries moved aside that the next restart does not delete: ",
                       deferral.unconfirmedCount(), L" of ", deferral.movedCount(), L", in ", deferral.folder(), L": ",
                       error.fullText());
            return 1;
        }
        driverLine(kSeverityWarning, L"The folder of the entries in use may stay after the restart: ",
                   error.fullText());
    }
    if (deferral.movedCount() == 0)
    {
        return result;
    }
    driverLine(kSeverityWarning, L"Entries deleted at the next restart: ", deferral.movedCount(), L", in ",
               deferral.folder());
    return result == 0 ? kExitRestartRequired : result;
}
}  // namespace

int run(const CCommandLine& options)
{
    const wchar_t* pathValue = options.getOption(L"Path");
    if (pathValue == nullptr)
    {
        driverLine(kSeverityError, L"Missing argument Path");
        return -1;
    }
    const CTargetPath target = parseTargetPath(pathValue);
    if (target.refusal != nullptr)
    {
        driverLine(kSeverityError, L"Refusing Path \"", pathValue, L"\": ", target.refusal, L".");
        return -1;
    }
    // Resolved once: the deletion uses this absolute form; the lines about it show its long names.
    const CFilePath& path = target.path;
    const CFilePath shown = WinAPI::tryGetLongPathName(path);
    driverLine(kSeverityInfo, L"Working on Path ", shown);

    const wchar_t* waitValue = options.getOption(L"Wait");
    if (waitValue == nullptr)
    {
        driverLine(kSeverityError, L"Missing argument Wait");
        return -1;
    }
    const std::uint32_t waitSeconds = readWait(waitValue);
    driverLine(kSeverityInfo, L"Waitime in seconds: ", waitSeconds);

    if (options.getOption(L"DeleteSelf") != nullptr)
    {
        startFinalDeleter();
    }

    if (const wchar_t* mutexName = options.getOption(L"WaitOnMutex"))
    {
        waitForMutex(mutexName);
    }
    else
    {
        driverLine(kSeverityInfo, L"No Mutex supplied");
    }

    if (waitSeconds != 0)
    {
        driverLine(kSeverityInfo, L"Sleeping for ", waitSeconds, L" seconds...");
        ::Sleep(waitSeconds * 1000);
    }

    CDeferralLog deferralLog;
    std::optional<CInUseDeferral> deferral;
    if (options.getOption(L"DeferInUse") != nullptr)
    {
        deferral.emplace(path, deferralLog);
    }

    const int result = deleteTarget(path, shown, deferral ? &*deferral : nullptr);
    return deferral ? finishDeferral(*deferral, result) : result;
}
