#include "app/DeferralLog.h"

#include "app/DriverLog.h"

void CDeferralLog::moved(const CFilePath& from, const CFilePath& to)
{
    driverLine(kSeverityWarning, L"In use, deleted at the next restart: ", from, L" moved to ", to);
}

void CDeferralLog::unavailable(const CTavException& reason)
{
    driverLine(kSeverityWarning, L"Entries in use cannot wait for the next restart: ", reason.fullText());
}
