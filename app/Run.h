#pragma once

#include <cstdint>
#include <string>

// The longest wait whose milliseconds fit a 32-bit sleep (below INFINITE).
constexpr std::uint32_t kMaxWaitSeconds = 4294967;

// The exit value of a run that removed the folder but left entries in use to the next restart
// (Windows' "succeeded, restart required").
constexpr int kExitRestartRequired = 3010;

class CCommandLine;

// The run: reads Path, Wait, DeleteSelf, WaitOnMutex and DeferInUse from the command line, starts
// the final deleter, waits for the mutex, sleeps and deletes the folder. Returns 0 on success,
// kExitRestartRequired when entries in use were moved aside and wait for the restart, 1 when the
// deletion failed and -1 when an argument is missing; CTavException from the mutex leaves it.
int run(const CCommandLine& options);
