#pragma once

#include <windows.h>

// A function that a module the process has loaded already (ntdll.dll, kernel32.dll) exports, with
// its type, or null when it lacks it.
template <class Function>
Function findLoadedFunction(const wchar_t* module, const char* name)
{
    return reinterpret_cast<Function>(::GetProcAddress(::GetModuleHandleW(module), name));
}
