#pragma once

#include "log/TraceConfig.h"
#include "log/TraceLog.h"

// Writes the byte-order mark and, unless another writer shares the file, the header block that
// describes the machine and the run. The caller holds the line lock and the file's sync mutex.
void writeLogHeader(const CTraceConfig& settings, const CLogTarget& target);
