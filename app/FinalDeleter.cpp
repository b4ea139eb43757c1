#include "app/FinalDeleter.h"

#include "app/CopyDeleter.h"
#include "app/DriverLog.h"
#include "app/OwnImage.h"
#include "win/FileCalls.h"
#include "win/ProcessCalls.h"
#include "win/SystemCalls.h"
#include "win/TavException.h"

namespace App
{
bool startFinalDeleter(const CDeleterJob& job)
{
    return startCopyDeleter(job);
}

namespace
{
// The temporary folder, or the Windows folder's own where that lies inside the folder the run
// deletes.
CFilePath deleterBase(const std::optional<CPlace>& target)
{
    CFilePath temp = WinAPI::getTempPath();
    if (!target || !target->contains(CPlace::ofPath(temp)))
    {
        return temp;
    }
    CFilePath windowsTemp = CFilePath::combine(WinAPI::getWindowsDirectory(), L"Temp");
    driverLine(kSeverityInfo, L"The temporary folder lies in the folder to be deleted; the final deleter starts from ",
               windowsTemp);
    return windowsTemp;
}

// The folder of the executable, held, when it may go; nothing after a line that says why not.
std::optional<CExecutableFolder> holdExecutableFolder(const CFilePath& executable)
{
    try
    {
        const CUniqueFile file = WinAPI::openToIdentify(verbatimForm(executable));
        CExecutableFolder folder(executable, file.get());
        if (const std::optional<std::wstring>& reason = folder.reasonToKeep())
        {
            driverLine(kSeverityWarning, L"The folder ", folder.path(), L" stays when the executable is gone: ",
                       *reason, L".");
            return std::nullopt;
        }
        return folder;
    }
    catch (const CTavException& error)
    {
        driverLine(kSeverityError, L"The folder of the executable stays when the executable is gone. ",
                   error.fullText());
        return std::nullopt;
    }
}
}  // namespace

std::optional<CExecutableFolder> startFinalDeleter(const std::optional<CPlace>& target, bool withFolder)
{
    CDeleterJob job;
    try
    {
        job.executable = WinAPI::getModuleFileName();
        job.image = ownImage();
        job.folder = deleterBase(target);
    }
    catch (const CTavException& error)
    {
        driverLine(kSeverityError, L"Could not prepare final deleter. ", error.fullText());
        return std::nullopt;
    }
    job.retrySeconds = kRetrySeconds;
    std::optional<CExecutableFolder> folder = withFolder ? holdExecutableFolder(job.executable) : std::nullopt;
    job.executableFolder = folder ? &*folder : nullptr;
    if (!startFinalDeleter(job))
    {
        return std::nullopt;
    }
    if (folder)
    {
        driverLine(kSeverityInfo, L"The folder ", folder->path(),
                   L" goes too once the executable is gone, when nothing else is in it then.");
    }
    return folder;
}
}  // namespace App
