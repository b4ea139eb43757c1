#pragma once

#include "crash/DebugHelp.h"
#include "crash/Fault.h"
#include "fs/FilePath.h"

// The dump file of a crash: the temporary folder, and in it the executable's file name with its
// extension replaced by "dump". Lets CTavException of the call layer pass.
CFilePath minidumpPath();

// Writes the minidump of the process for the fault and one log line: a warning naming the file,
// or an error with the system's reason. The file is minidumpPath() when that name is free or
// holds a plain file of this user (the dump of an earlier crash, which is replaced); when
// anything else has the name (a link above all, which is never followed), the next free name of
// fs/OwnEntry.h ("<exe name>.2.dump", ...). Lets CTavException pass when the temporary folder or
// the file cannot be had.
void writeMinidump(const CDebugHelp& help, const CFault& fault);
