#pragma once

#include "fs/InUseDeferral.h"

// Writes what the deferral of entries in use did to the log, as warnings: each entry moved aside
// with its old and new name, and why nothing could be moved. The deletion's workers tell it too;
// every line goes to the log of the thread that made the object.
class CDeferralLog : public CDeferralListener
{
public:
    CDeferralLog() : m_threadId(::GetCurrentThreadId()) {}

    void moved(const CFilePath& from, const CFilePath& to) override;
    void unavailable(const CTavException& reason) override;

private:
    std::uint32_t m_threadId;
};
