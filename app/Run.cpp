#include "app/Run.h"

#include "app/CommandLine.h"
#include "app/DeferralLog.h"
#include "app/DriverLog.h"
#include "app/FinalDeleter.h"
#include "app/NumberConversion.h"
#include "app/ParentsLog.h"
#include "app/ProcessWait.h"
#include "fs/EmptyParents.h"
#include "fs/FilePath.h"
#include "fs/FolderDeletion.h"
#include "fs/InUseDeferral.h"
#include "fs/KeptEntries.h"
#include "fs/LowerCase.h"
#include "fs/TargetPath.h"
#include "log/TraceLog.h"
#include "win/EntryCalls.h"
#include "win/FileCalls.h"
#include "win/NamedMutex.h"
#include "win/ProcessCalls.h"
#include "win/TavException.h"

#include <windows.h>

#include <optional>
#include <typeinfo>
#include <vector>

namespace App
{
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

// Where the target lies, when it is there and that can be told.
std::optional<CPlace> placeOfTarget(const CFilePath& path)
{
    try
    {
        if (const std::optional<CDeletionTarget> target = CDeletionTarget::find(path))
        {
            return target->place();
        }
    }
    catch (const CTavException&)
    {
        // Then the deletion reports why it cannot have it.
    }
    return std::nullopt;
}

// The options that shape the deletion, each read and checked before anything is started, waited
// for or deleted.
struct CDeletionOptions
{
    bool whatIf = false;
    std::optional<CProcessWait> process;
    std::vector<CFilePath> kept;
    bool removeParents = false;
    std::optional<CPlace> stopParentsAt;
};

void refuse(const wchar_t* option, const std::wstring& value, const std::wstring& reason)
{
    driverLine(kSeverityError, L"Refusing /", option, L" \"", value, L"\": ", reason, L".");
}

// The folder given to /RemoveEmptyParents, when it is the target's folder or above it (compared as
// places); nothing after an error line otherwise.
std::optional<CPlace> readStopFolder(const std::wstring& value, const CFilePath& target)
{
    const CTargetPath stop = parseTargetPath(value);
    if (stop.refusal != nullptr)
    {
        refuse(L"RemoveEmptyParents", value, stop.refusal);
        return std::nullopt;
    }
    try
    {
        const CUniqueFile folder = WinAPI::openToIdentify(verbatimForm(stop.path));
        if (!folder.isValid())
        {
            refuse(L"RemoveEmptyParents", value, L"it is not there");
            return std::nullopt;
        }
        CPlace place = CPlace::of(folder.get(), stop.path);
        if (target.isRoot() || !place.contains(CPlace::ofPath(target.parent())))
        {
            refuse(L"RemoveEmptyParents", value, L"it is no folder above " + target);
            return std::nullopt;
        }
        return place;
    }
    catch (const CTavException& error)
    {
        refuse(L"RemoveEmptyParents", value, error.fullText());
        return std::nullopt;
    }
}

// Reads WhatIf, WaitOnProcess, Keep and RemoveEmptyParents; false after an error line when one of
// them is bad.
bool readDeletionOptions(const CCommandLine& options, const CFilePath& target, CDeletionOptions& read)
{
    if (const wchar_t* whatIf = options.getOption(L"WhatIf"))
    {
        if (*whatIf != L'\0')
        {
            refuse(L"WhatIf", whatIf, L"the option takes no value");
            return false;
        }
        read.whatIf = true;
    }
    if (const wchar_t* processId = options.getOption(L"WaitOnProcess"))
    {
        read.process = CProcessWait::open(processId);
        if (!read.process)
        {
            return false;
        }
    }
    if (const wchar_t* keep = options.getOption(L"Keep"))
    {
        CKeptPaths paths = parseKeptPaths(keep);
        if (paths.refusal != nullptr)
        {
            refuse(L"Keep", paths.refusedItem.empty() ? std::wstring(keep) : paths.refusedItem, paths.refusal);
            return false;
        }
        read.kept = std::move(paths.paths);
    }
    if (const wchar_t* stopAt = options.getOption(L"RemoveEmptyParents"))
    {
        read.removeParents = true;
        if (*stopAt != L'\0')
        {
            read.stopParentsAt = readStopFolder(stopAt, target);
            if (!read.stopParentsAt)
            {
                return false;
            }
        }
    }
    return true;
}

// What became of the target.
struct CTargetOutcome
{
    // 0 when it is gone, was not there or stays with only the kept entries in it; 1 when something
    // else stays (in a dry run: would stay); -1 when the run ends before deleting.
    int result = 0;
    // The target stays: something in it is kept, or something else could not be removed.
    bool stays = false;
    // The file id of the folder the target lay in, and its name as the folder lists it; 0 and
    // empty when it was not there.
    std::uint64_t folderId = 0;
    std::wstring listedName;
};

// Finds the kept entries in the target and logs them; nothing, after an error line, when they
// cannot be looked for.
std::optional<CKeptEntries> findKept(const CDeletionTarget& target, const std::vector<CFilePath>& paths, bool dryRun)
{
    std::vector<CKeptEntries::CFinding> findings;
    try
    {
        CKeptEntries kept = CKeptEntries::find(target, paths, findings);
        for (const CKeptEntries::CFinding& finding : findings)
        {
            switch (finding.found)
            {
            case CKeptEntries::EFound::Kept:
                driverLine(kSeverityInfo, dryRun ? L"Would keep " : L"Keeping ", finding.shown);
                break;
            case CKeptEntries::EFound::LinkOnTheWay:
                driverLine(kSeverityWarning, dryRun ? L"Would keep the link " : L"Keeping the link ", finding.shown,
                           L": the kept path ", finding.path, L" leads through it, and no link is followed");
                break;
            case CKeptEntries::EFound::Missing:
                driverLine(kSeverityWarning, L"The kept path ", finding.path, L" names nothing in ", target.shown(),
                           dryRun ? L"; the dry run would keep nothing for it" : L"; nothing is kept for it");
                break;
            }
        }
        return kept;
    }
    catch (const CTavException& error)
    {
        driverLine(kSeverityError, L"Could not find the kept entries in ", target.shown(), L": ", error.fullText());
        return std::nullopt;
    }
}

// Finds the target, moves a log that lies inside it out of the way and deletes it, keeping the kept
// entries. A dry run changes nothing (the log stays where it is too) and tells what the deletion
// would do.
CTargetOutcome deleteTarget(const CFilePath& path, const CFilePath& shown, const std::vector<CFilePath>& keptPaths,
                            CInUseDeferral* deferral, bool dryRun)
{
    CTargetOutcome outcome;
    std::optional<CDeletionTarget> target;
    std::optional<CTavException> failure;
    std::optional<CKeptEntries> kept;
    try
    {
        target = CDeletionTarget::find(path);
        if (target)
        {
            outcome.folderId = WinAPI::queryFileId(target->folder(), path.parent());
            outcome.listedName = target->entry().name;
        }
    }
    catch (const CTavException& error)
    {
        failure = error;
    }
    if (target && !keptPaths.empty())
    {
        kept = findKept(*target, keptPaths, dryRun);
        if (!kept)
        {
            outcome.result = -1;
            return outcome;
        }
        outcome.stays = !kept->empty();
    }
    if (target && !dryRun)
    {
        // A log inside the folder would keep it alive (and be lost with it).
        CTraceLog::moveOutOf(target->place());
    }
    driverLine(kSeverityInfo, dryRun ? L"Would delete " : L"Deleting ", shown, L" now.");
    try
    {
        if (failure)
        {
            throw *failure;
        }
        if (target && dryRun)
        {
            const CDeletionForecast forecast = forecastDeletion(*target, kept ? &*kept : nullptr);
            for (const std::wstring& line : forecast.failures)
            {
                driverLine(kSeverityWarning, L"Would fail: ", line);
            }
            driverLine(kSeverityInfo, L"Would remove ", forecast.files, L" files (", forecast.bytes, L" bytes) and ",
                       forecast.folders, L" folders.");
            if (!forecast.failures.empty())
            {
                driverLine(kSeverityError, L"Would not remove ", shown, L" completely: ", forecast.failures.size(),
                           L" entries would fail.");
                outcome.result = 1;
            }
        }
        else if (target)
        {
            deleteCompletely(*target, {}, deferral, 0, kept ? &*kept : nullptr);
        }
    }
    catch (const CTavException& error)
    {
        driverLine(kSeverityError, dryRun ? L"Would not remove " : L"Could not remove ", shown, L" completely: ",
                   dryRun ? L"would fail: " + error.fullText() : error.fullText());
        outcome.result = 1;
    }
    if (outcome.result != 0)
    {
        outcome.stays = true;
    }
    else if (outcome.stays)
    {
        driverLine(kSeverityInfo, dryRun ? L"Would keep " : L"Kept ", shown,
                   L" with only the kept entries and the folders on the way to them.");
    }
    return outcome;
}

// Removes the target's empty parents (in a dry run: tells which would go) once the target is gone.
void removeParents(const CFilePath& path, const CFilePath& shown, const CDeletionOptions& read,
                   const CTargetOutcome& outcome)
{
    if (outcome.stays)
    {
        driverLine(kSeverityInfo, read.whatIf ? L"Would leave the parent folders: " : L"Leaving the parent folders: ",
                   shown, read.whatIf ? L" would stay." : L" stays.");
        return;
    }
    CEmptyParents request;
    request.target = path;
    request.folderId = outcome.folderId;
    request.stopAt = read.stopParentsAt;
    request.dryRun = read.whatIf;
    request.targetName = outcome.listedName;
    CParentsLog log(read.whatIf);
    removeEmptyParents(request, log);
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
// The target the Path names, or nothing after the error line that says why there is none.
std::optional<CFilePath> readPath(const CCommandLine& options)
{
    const wchar_t* pathValue = options.getOption(L"Path");
    if (pathValue == nullptr)
    {
        driverLine(kSeverityError, L"Missing argument Path");
        return std::nullopt;
    }
    CTargetPath target = parseTargetPath(pathValue);
    if (target.refusal != nullptr)
    {
        driverLine(kSeverityError, L"Refusing Path \"", pathValue, L"\": ", target.refusal, L".");
        return std::nullopt;
    }
    return std::move(target.path);
}

// The seconds to sleep before the deletion, or nothing after an error line when Wait is missing.
std::optional<std::uint32_t> readWaitOption(const CCommandLine& options)
{
    const wchar_t* waitValue = options.getOption(L"Wait");
    if (waitValue == nullptr)
    {
        driverLine(kSeverityError, L"Missing argument Wait");
        return std::nullopt;
    }
    const std::uint32_t waitSeconds = readWait(waitValue);
    driverLine(kSeverityInfo, L"Waitime in seconds: ", waitSeconds);
    return waitSeconds;
}

// /DeleteSelf with its value: starts the final deleter, or in a dry run says what it would do.
// Returns the hold on the executable's folder, kept until the run ends, when that folder goes too.
std::optional<CExecutableFolder> startSelfRemoval(const std::wstring& value, const CFilePath& path, bool dryRun)
{
    const bool withFolder = lowerCaseCopy(value) == L"folder";
    if (!dryRun)
    {
        return startFinalDeleter(placeOfTarget(path), withFolder);
    }
    const CFilePath executable = WinAPI::tryGetModuleFileName();
    driverLine(kSeverityInfo, L"Would remove ", executable,
               L" once the run has ended (/DeleteSelf); a dry run leaves it.");
    if (withFolder)
    {
        driverLine(kSeverityInfo, L"Would remove the folder ", executable.parent(),
                   L" too once the executable is gone, when nothing else is in it then.");
    }
    return std::nullopt;
}

// Waits for the process, then the mutex, then the seconds asked for.
void waitForTurn(const CCommandLine& options, CDeletionOptions& read, std::uint32_t waitSeconds)
{
    if (read.process)
    {
        read.process->wait();
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
}

// The dry run (/WhatIf): tells what the deletion and the removal of the parents would do.
int tellWhatWouldHappen(const CFilePath& path, const CFilePath& shown, const CDeletionOptions& read, bool deferInUse)
{
    driverLine(kSeverityInfo,
               L"Dry run (/WhatIf): from here on every line says what the run would do; "
               L"nothing is deleted or changed.");
    if (deferInUse)
    {
        driverLine(kSeverityInfo,
                   L"Would move files in use aside for the next restart (/DeferInUse); "
                   L"the dry run lists them among the entries that would fail.");
    }
    const CTargetOutcome outcome = deleteTarget(path, shown, read.kept, nullptr, true);
    if (outcome.result != -1 && read.removeParents)
    {
        removeParents(path, shown, read, outcome);
    }
    return outcome.result;
}

// Deletes the target (moving entries in use aside where asked), then its empty parents where asked.
int deleteAll(const CFilePath& path, const CFilePath& shown, const CDeletionOptions& read, bool deferInUse)
{
    CDeferralLog deferralLog;
    std::optional<CInUseDeferral> deferral;
    if (deferInUse)
    {
        deferral.emplace(path, deferralLog);
    }
    const CTargetOutcome outcome = deleteTarget(path, shown, read.kept, deferral ? &*deferral : nullptr, false);
    if (outcome.result == -1)
    {
        return -1;
    }
    const int result = deferral ? finishDeferral(*deferral, outcome.result) : outcome.result;
    if (read.removeParents)
    {
        CTargetOutcome parents = outcome;
        parents.stays = outcome.stays || (result != 0 && result != kExitRestartRequired);
        removeParents(path, shown, read, parents);
    }
    return result;
}
}  // namespace

int run(const CCommandLine& options)
{
    const std::optional<CFilePath> path = readPath(options);
    if (!path)
    {
        return -1;
    }
    // Resolved once: the deletion uses this absolute form; the lines about it show its long names.
    const CFilePath shown = WinAPI::tryGetLongPathName(*path);
    driverLine(kSeverityInfo, L"Working on Path ", shown);
    const std::optional<std::uint32_t> waitSeconds = readWaitOption(options);
    CDeletionOptions read;
    if (!waitSeconds || !readDeletionOptions(options, *path, read))
    {
        return -1;
    }
    // Held until the run ends: the folder the final deleter removes once the executable is gone.
    std::optional<CExecutableFolder> executableFolder;
    if (const wchar_t* deleteSelf = options.getOption(L"DeleteSelf"))
    {
        executableFolder = startSelfRemoval(deleteSelf, *path, read.whatIf);
    }
    waitForTurn(options, read, *waitSeconds);
    const bool deferInUse = options.getOption(L"DeferInUse") != nullptr;
    return read.whatIf ? tellWhatWouldHappen(*path, shown, read, deferInUse)
                       : deleteAll(*path, shown, read, deferInUse);
}
}  // namespace App
