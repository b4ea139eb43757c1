#pragma once

#include "win/LoadedFunction.h"
#include "win/UniqueHolder.h"

#include <windows.h>

#include <string>

// Keeps the process from loading libraries out of its current directory (or PATH): only the
// system folder is searched from here on, and the executable's folder before it where nobody but
// the system and the administrators can write to that folder (win/FolderSecurity.h). A copy
// started from the temporary folder thus never loads a library that was put beside it, however a
// library asks for another by name (the debugging-help library for its symbol server, say).
void restrictDllSearchPath();

// An optional library as loadOptionalLibrary found it.
struct COptionalLibrary
{
    // Invalid when no folder had a loadable copy.
    CUniqueLibrary library;
    // The copy beside the executable that was passed over because others can write to the
    // executable's folder; empty when there was none.
    std::wstring passedOver;

    // The log line about a passed-over copy: "<path> is not loaded: ...".
    std::wstring passedOverText() const;
};

// Loads an optional library by its full path, from the executable's folder or else the system
// folder, never from anywhere else on the search path, and without a system dialog when it is
// missing or broken. The executable's folder counts only when nobody but the system and the
// administrators can write to it (decided through a handle that keeps the folder from being
// renamed or replaced until the library is loaded); otherwise a copy there is passed over and
// only the system folder is searched. The library's own imports are looked for beside it and in
// the system folder.
COptionalLibrary loadOptionalLibrary(const wchar_t* fileName);
// The same, from the system folder only.
CUniqueLibrary loadSystemLibrary(const wchar_t* fileName);

// A function of a loaded library with its type, or null when the library lacks it.
template <class Function>
Function findFunction(const CUniqueLibrary& library, const char* name)
{
    if (!library.isValid())
    {
        return nullptr;
    }
    return reinterpret_cast<Function>(::GetProcAddress(library.get(), name));
}
