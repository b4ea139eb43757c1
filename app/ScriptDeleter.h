#pragma once

struct CDeleterJob;

// Writes the deleter script into a new folder of the temporary folder (CRunFolder) and starts
// the script host of the system folder on it, then waits (30 seconds at most) until the script
// confirms that it runs by deleting its own file. True when it did; otherwise the reason is
// logged, the host is ended and the script removed. The folder goes either way.
bool startScriptDeleter(const CDeleterJob& job);
