#include "app/DeferralLog.h"

#include "app/DriverLog.h"

void CDeferralLog::moved(const CFilePath& from, const CFilePath& to)
{
    CLogLine(m_threadId, App::kDriverTag, kSeverityWarning)
        << L"In use, deleted at the next restart: " << from << L" moved to " << to;
}

void CDeferralLog::unavailable(const CTavException& reason)
{
    CLogLine(m_threadId, App::kDriverTag, kSeverityWarning)
        << L"Entries in use cannot wait for the next restart: " << reason.fullText();
}
