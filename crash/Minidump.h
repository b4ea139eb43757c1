#pragma once

#include "crash/DebugHelp.h"
#include "crash/Fault.h"
#include "fs/FilePath.h"

// The dump file of a crash: the temporary folder, and in it the executable's file name with its
// extension replaced by "dump". Lets CTavException of the call layer pass.
CFilePath minidumpPath();

// Writes the minidump of the process for the fault (replacing the dump of an earlier crash of
// the same executable) and one log line: a warning naming the file, or an error with the
// system's reason. Lets CTavException pass when the temporary folder or the file cannot be had.
void writeMinidump(const CDebugHelp& help, const CFault& fault);
