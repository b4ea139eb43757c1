#pragma once

namespace App
{
// The process entry after the DLL search path is restricted: installs the crash translator, opens
// the log, runs, writes the final line and returns the exit value.
int entry();
}  // namespace App
