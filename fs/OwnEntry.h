#pragma once

#include "fs/FilePath.h"
#include "win/UniqueHolder.h"

#include <functional>

// Entries at names the program chose in advance, in a folder that others may write to (the
// temporary folder): whatever already has such a name, a link above all, is never followed and
// never changed, unless it is a plain entry of this process's user that an earlier run left. An
// entry counts as that when it is no link or other reparse point, is a file with a single name
// (or a folder), is owned by the process user or by the default owner of what the process creates
// (the administrators, elevated), and, under Wine, where a Unix link shows as the entry it leads
// to, when the resolved name of its handle is its own name in the folder.

// Creates the file new, or takes over the plain file of this user at that name, emptied; the
// handle may read and write. An invalid holder when anything else has the name, or when the
// file there cannot be written. Throws CTavException when no file can be created there at all
// (a missing folder, no rights).
CUniqueFile createOwnFile(const CFilePath& path);

// Creates the folder, or accepts the plain folder of this user at that name; false when anything
// else has the name. Throws CTavException when no folder can be created there at all.
bool createOwnFolder(const CFilePath& path);

// The first name, of path and then the names with ".2", ".3" and so on before the file name's
// extension ("a.dump", "a.2.dump"; "pdbs", "pdbs.2"), 100 names in all, that take accepts;
// take returns false for a name that is taken. Throws ERROR_FILE_EXISTS when all are taken.
CFilePath firstOwnName(const CFilePath& path, const std::function<bool(const CFilePath&)>& take);
