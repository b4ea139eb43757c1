#pragma once

#include "config/TraceConfig.h"
#include "log/LogTarget.h"

#include <cstdint>
#include <string>

// Writes the byte-order mark and, unless another writer shares the file, the header block that
// describes the machine and the run. The caller holds the line lock and the file's sync mutex.
// Returns the line that is to follow the header when the information library beside the
// executable was passed over (COptionalLibrary::passedOverText), empty otherwise.
std::wstring writeLogHeader(const CTraceConfig& settings, const CLogTarget& target);

// "D day(s), H:MM:SS hours" since the system started.
std::wstring formatUptime();
std::wstring formatUptime(std::int64_t totalSeconds);
// The command line with every option that follows a blank and starts with "/_" blanked out.
std::wstring hideOptions(const std::wstring& commandLine);
// "<available> MB of <total> MB free", each rounded up to whole megabytes.
std::wstring formatMemory(std::uint64_t availableBytes, std::uint64_t totalBytes);
// One row of a library table: the name right-aligned in 23 columns, ":     ", the version.
std::wstring formatLibraryRow(const std::wstring& name, const std::wstring& version);
