#include "app/DeleterProcess.h"

#include "app/DriverLog.h"
#include "win/TavException.h"

namespace App
{
WinAPI::StartedProcess startDeleterProcess(const std::wstring& program, const std::wstring& commandLine,
                                           const std::wstring& currentDirectory, const std::vector<HANDLE>& inherited)
{
    // Outside a job the flag changes nothing; a job that forbids leaving refuses it.
    try
    {
        return WinAPI::createProcess(program, commandLine, CREATE_BREAKAWAY_FROM_JOB, currentDirectory, inherited);
    }
    catch (const CTavException& error)
    {
        if (error.errorCode != ERROR_ACCESS_DENIED || !WinAPI::isInJob())
        {
            throw;
        }
    }
    WinAPI::StartedProcess process = WinAPI::createProcess(program, commandLine, 0, currentDirectory, inherited);
    driverLine(kSeverityWarning,
               L"The final deleter runs inside the job of this process, which does not let it "
               L"leave: it ends when the job is closed, and the executable may then stay.");
    return process;
}
}  // namespace App
