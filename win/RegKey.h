#pragma once

#include "win/UniqueHolder.h"

#include <windows.h>

// Registry keys held by CUniqueHolder. The empty value is -1. Closing skips null and the
// predefined root keys: a holder may refer to a root (the parent of every open) and must never
// close it. HKEY_DYN_DATA is not treated as predefined and is closed like any other key.
struct RegKeyTraits
{
    using Handle = HKEY;
    static Handle empty() { return reinterpret_cast<HKEY>(static_cast<LONG_PTR>(-1)); }
    static bool isValid(Handle key) { return key != empty() && key != nullptr; }
    static bool isPredefined(Handle key);
    static void close(Handle key);
};

// The sole owner of an open registry key.
using CUniqueRegKey = CUniqueHolder<RegKeyTraits>;
