#pragma once

#include "win/SharedHolder.h"

#include <windows.h>

// Registry keys held by CSharedHolder. The empty value is -1. Closing skips 0, -1 and the
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

// An open registry key with shared ownership; the last release closes it.
using CSharedRegKey = CSharedHolder<RegKeyTraits>;
