#pragma once

#include <string>

// The symbol search path of the crash report: the executable's folder, its "pdbs" subfolder and
// the public symbol server with a download cache "pdbs" in the temporary folder:
//     <exe folder>;<exe folder>\pdbs;SRV*<temp>\pdbs*https://<server>/download/symbols
// The cache is made new, or an earlier plain folder of this user is used; where anything else
// has the name (a link above all) the next free name of fs/OwnEntry.h ("pdbs.2", ...), which the
// path then names; when all of them are taken the path has no symbol server. Creates the empty marker file "symsrv.yes" in the executable's folder, but
// only where nobody but the system and the administrators can write to that folder, and only
// when nothing has that name yet; a marker that cannot be written is ignored. Lets CTavException
// pass when the temporary folder or the cache folder fails.
std::wstring buildSymbolPath();
