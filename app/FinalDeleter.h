#pragma once

#include "app/DeleterJob.h"
#include "fs/ExecutableFolder.h"
#include "fs/Place.h"

#include <cstdint>
#include <optional>

namespace App
{
// Seconds a deleter keeps trying after the process has ended (a scanner may still hold the file).
constexpr std::uint32_t kRetrySeconds = 60;

// Starts a deleter, a copy of the executable in a private temporary folder (CopyDeleter.h), that
// waits without limit while this process runs, then deletes the executable (read-only or not, at
// any path length), with the job's executable folder that folder when nothing else is in it then,
// and finally itself. It starts outside the job object of the process where the job allows it
// (DeleterProcess.h). Never throws CTavException: every failure is one error line in the log, and
// the run goes on. True when the deleter runs.
bool startFinalDeleter(const CDeleterJob& job);
// The same for this process's own executable. target: where the folder the run deletes lies (none
// when it is not there): the deleter's files are made outside it. withFolder: the executable's
// folder goes too (/DeleteSelf:Folder). Returns the hold on that folder, which the caller keeps
// until the process ends: nothing when the folder stays (a line in the log says why).
std::optional<CExecutableFolder> startFinalDeleter(const std::optional<CPlace>& target, bool withFolder);
}  // namespace App
