#pragma once

// The process entry after the DLL search path is restricted: opens the log, installs the crash
// translator, runs, writes the final line and returns the exit value.
int entry();
