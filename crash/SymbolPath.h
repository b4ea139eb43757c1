#pragma once

#include <string>

// The symbol search path of the crash report: the executable's folder, its "pdbs" subfolder and
// the public symbol server with a download cache "pdbs" in the temporary folder:
//     <exe folder>;<exe folder>\pdbs;SRV*<temp>\pdbs*https://<server>/download/symbols
// Creates the cache folder and the empty marker file "symsrv.yes" in the current directory
// (which the report has made the executable's folder); a marker that cannot be written is
// ignored. Lets CTavException pass when the temporary folder or the cache folder fails.
std::wstring buildSymbolPath();
