#pragma once

#include "fs/Place.h"

// Before a folder is removed: when this process's current directory lies in it (a folder that is
// the current directory of a process cannot be removed), the current directory moves to the
// temporary folder, or to the Windows folder when that lies in it too. Never throws: a current
// directory that cannot move leaves the removal to report what is in the way.
void leaveFolder(const CPlace& folder);
