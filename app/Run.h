#pragma once

#include <cstdint>
#include <string>

class CCommandLine;

namespace App
{
// The longest wait whose milliseconds fit a 32-bit sleep (below INFINITE).
constexpr std::uint32_t kMaxWaitSeconds = 4294967;

// The exit value of a run that removed the folder but left entries in use to the next restart
// (Windows' "succeeded, restart required").
constexpr int kExitRestartRequired = 3010;

// The run: reads Path, Wait, DeleteSelf, WaitOnMutex, DeferInUse, WaitOnProcess, Keep,
// RemoveEmptyParents and WhatIf from the command line (every value checked before anything is
// started, waited for or deleted), starts the final deleter, waits for the process and the mutex,
// sleeps, deletes the folder but the kept entries and removes its empty parents; with WhatIf it
// changes nothing and tells what it would do. Returns 0 on success (only kept entries stay),
// kExitRestartRequired when entries in use were moved aside and wait for the restart, 1 when the
// deletion failed (would fail) and -1 when an argument is missing or bad; CTavException from the
// mutex or the process wait leaves it.
int run(const CCommandLine& options);
}  // namespace App
