#pragma once

#include "win/Library.h"

#include <windows.h>
#include <dbghelp.h>

// The system's debugging-help library ("dbghelp.dll") is bound at run time, never imported: the
// program must start where the library is missing or too old, and a call into a library that is
// not there must never fault inside the crash handler. Nothing of it is called before
// isDebugHelpUsable() has said yes.

// The ten functions of the library the crash handling uses; a member is null when the loaded
// library lacks it.
struct CDebugHelp
{
    decltype(&::SymInitializeW) symInitializeW = nullptr;
    decltype(&::SymSetOptions) symSetOptions = nullptr;
    decltype(&::SymGetOptions) symGetOptions = nullptr;
    decltype(&::StackWalk64) stackWalk64 = nullptr;
    decltype(&::SymGetModuleBase64) symGetModuleBase64 = nullptr;
    decltype(&::SymFunctionTableAccess64) symFunctionTableAccess64 = nullptr;
    decltype(&::SymFromAddrW) symFromAddrW = nullptr;
    decltype(&::SymGetLineFromAddrW64) symGetLineFromAddrW64 = nullptr;
    decltype(&::SymCleanup) symCleanup = nullptr;
    decltype(&::MiniDumpWriteDump) miniDumpWriteDump = nullptr;

    // Everything the call stack needs is there.
    bool canWalkStack() const;
};

// Loads "dbghelp.dll" from the executable's folder or the system folder, never from the current
// directory, without a system dialog when it is missing; from the system folder only where
// others than the system and the administrators can write to the executable's folder (see
// loadOptionalLibrary). An invalid holder when it cannot be loaded.
COptionalLibrary loadDebugHelp();

// The functions of a loaded library.
CDebugHelp bindDebugHelp(const CUniqueLibrary& library);

// True when the library has SymFromAddrW, SymGetLineFromAddrW64 and SymInitializeW.
bool isDebugHelpUsable(const CDebugHelp& help);
