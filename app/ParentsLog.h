#pragma once

#include "fs/EmptyParents.h"

// Writes the removal of empty parents to the log: one line per parent removed, one where the
// removal stopped and why (a warning when a removal failed). In a dry run every line says what
// would happen.
class CParentsLog : public CParentsListener
{
public:
    explicit CParentsLog(bool dryRun) : m_dryRun(dryRun) {}

    void removed(const CFilePath& folder) override;
    void stopped(const CFilePath& folder, const std::wstring& reason, bool failed) override;

private:
    bool m_dryRun;
};
