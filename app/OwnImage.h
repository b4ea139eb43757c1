#pragma once

#include <windows.h>

namespace App
{
// The program's own file, held from the start of a run that is to remove it (/DeleteSelf) until
// the process ends. The hold lets others read the file but not write, rename or delete it: the
// file the final deleter copies and deletes is then the one this process was started from, never
// one that someone put at its name after renaming the running program away.
void holdOwnImage();
// The held file; null when it is not held (not asked for, or another program held the file for
// writing or deleting when the process started).
HANDLE ownImage();
}  // namespace App
