#pragma once

#include "fs/InUseDeferral.h"

// Writes what the deferral of entries in use did to the log, as warnings: each entry moved aside
// with its old and new name, and why nothing could be moved.
class CDeferralLog : public CDeferralListener
{
public:
    void moved(const CFilePath& from, const CFilePath& to) override;
    void unavailable(const CTavException& reason) override;
};
