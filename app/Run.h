#pragma once

#include <cstdint>
#include <string>

// The longest wait whose milliseconds fit a 32-bit sleep (below INFINITE).
constexpr std::uint32_t kMaxWaitSeconds = 4294967;

class CCommandLine;

// The run: reads Path, Wait, DeleteSelf and WaitOnMutex from the command line, starts the final
// deleter, waits for the mutex, sleeps and deletes the folder. Returns 0 on success, 1 when the
// deletion failed and -1 when an argument is missing; CTavException from the mutex leaves it.
int run(const CCommandLine& options);
