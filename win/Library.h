#pragma once

#include "win/SharedHolder.h"

#include <windows.h>

// Keeps the process from loading libraries out of its current directory (or PATH): only the
// executable's folder and the system folder are searched from here on.
void restrictDllSearchPath();

// Loads an optional library by its full path, from the executable's folder or else the system
// folder, never from anywhere else on the search path, and without a system dialog when it is
// missing or broken. An invalid holder when neither folder has a loadable copy.
CSharedLibrary loadOptionalLibrary(const wchar_t* fileName);
// The same, from the system folder only.
CSharedLibrary loadSystemLibrary(const wchar_t* fileName);

// A function of a loaded library with its type, or null when the library lacks it.
template <class Function>
Function findFunction(const CSharedLibrary& library, const char* name)
{
    if (!library.isValid())
    {
        return nullptr;
    }
    return reinterpret_cast<Function>(::GetProcAddress(library.get(), name));
}
