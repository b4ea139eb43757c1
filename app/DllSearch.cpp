#include "app/DllSearch.h"

#include <windows.h>

void restrictDllSearchPath()
{
    // SetDefaultDllDirectories needs Windows 8 or the Windows 7 update that added it: look it up.
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    constexpr DWORD kSearchApplicationDir = 0x00000200;  // LOAD_LIBRARY_SEARCH_APPLICATION_DIR
    constexpr DWORD kSearchSystem32 = 0x00000800;        // LOAD_LIBRARY_SEARCH_SYSTEM32
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    const auto setDefault =
        reinterpret_cast<SetDefaultDllDirectoriesFn>(::GetProcAddress(kernel, "SetDefaultDllDirectories"));
    if (setDefault != nullptr)
    {
        setDefault(kSearchApplicationDir | kSearchSystem32);
    }
    // Without it, at least take the current directory out of the search order.
    ::SetDllDirectoryW(L"");
}
