#include "app/ParentsLog.h"

#include "app/DriverLog.h"

void CParentsLog::removed(const CFilePath& folder)
{
    App::driverLine(kSeverityInfo,
                    m_dryRun ? L"Would remove the empty parent folder " : L"Removed the empty parent folder ", folder);
}

void CParentsLog::stopped(const CFilePath& folder, const std::wstring& reason, bool failed)
{
    App::driverLine(failed ? kSeverityWarning : kSeverityInfo,
                    m_dryRun ? L"Would stop removing parent folders at " : L"Stopped removing parent folders at ",
                    folder, L": ", reason, L".");
}
