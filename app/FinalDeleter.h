#pragma once

// Writes the self-removal script to the temporary folder and hands it to the script host with
// the executable's path, so the executable is deleted once the process has ended.
void startFinalDeleter();
