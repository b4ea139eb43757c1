#pragma once

#include "app/DeleterJob.h"
#include "fs/Place.h"

#include <cstdint>
#include <optional>

// Seconds a deleter keeps trying after the process has ended (a scanner may still hold the file).
constexpr std::uint32_t kRetrySeconds = 60;

// Starts a deleter for the job, which waits without limit while the process runs, then deletes
// the executable (read-only or not, at any path length) and finally itself. First choice is the
// script host of the system folder; when it cannot be used or does not confirm that the script
// runs, a copy of the executable in a private temporary folder does the job. Either starts outside
// the job object of the process where the job allows it (DeleterProcess.h). Never throws
// CTavException: every failure is one error line in the log, and the run goes on.
void startFinalDeleter(const CDeleterJob& job);
// The same for this process and its own executable. target: where the folder the run deletes lies
// (none when it is not there): the deleter's files are made outside it.
void startFinalDeleter(const std::optional<CPlace>& target);
