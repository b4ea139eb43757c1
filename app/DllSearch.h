#pragma once

// Keeps the process from loading libraries out of its current directory (or PATH): only the
// executable's folder and the system folder are searched from here on.
void restrictDllSearchPath();
