#include "crash/DebugHelp.h"

namespace
{
template <class Function>
void bind(HMODULE library, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(::GetProcAddress(library, name));
}
}  // namespace

bool CDebugHelp::canWalkStack() const
{
    return symInitializeW != nullptr && symSetOptions != nullptr && symGetOptions != nullptr &&
           stackWalk64 != nullptr && symGetModuleBase64 != nullptr && symFunctionTableAccess64 != nullptr &&
           symFromAddrW != nullptr && symGetLineFromAddrW64 != nullptr && symCleanup != nullptr;
}

CSharedLibrary loadDebugHelp()
{
    // The search flags need Windows 8 or the Windows 7 update that added them; the headers of
    // this build target Windows 7, so they are spelled out here.
    constexpr DWORD kSearchApplicationDir = 0x00000200;  // LOAD_LIBRARY_SEARCH_APPLICATION_DIR
    constexpr DWORD kSearchSystem32 = 0x00000800;        // LOAD_LIBRARY_SEARCH_SYSTEM32

    const UINT previous = ::SetErrorMode(SEM_FAILCRITICALERRORS);
    ::SetErrorMode(previous | SEM_FAILCRITICALERRORS);
    HMODULE library = ::LoadLibraryExW(L"dbgHelp.dll", nullptr, kSearchApplicationDir | kSearchSystem32);
    if (library == nullptr && ::GetLastError() == ERROR_INVALID_PARAMETER)
    {
        // A system without the flags: restrictDllSearchPath has taken the current directory out of
        // the search order already, so the plain search starts in the executable's folder too.
        library = ::LoadLibraryW(L"dbgHelp.dll");
    }
    ::SetErrorMode(previous);
    return CSharedLibrary(library);
}

CDebugHelp bindDebugHelp(HMODULE library)
{
    CDebugHelp help;
    bind(library, "SymInitializeW", help.symInitializeW);
    bind(library, "SymSetOptions", help.symSetOptions);
    bind(library, "SymGetOptions", help.symGetOptions);
    bind(library, "StackWalk64", help.stackWalk64);
    bind(library, "SymGetModuleBase64", help.symGetModuleBase64);
    bind(library, "SymFunctionTableAccess64", help.symFunctionTableAccess64);
    bind(library, "SymFromAddrW", help.symFromAddrW);
    bind(library, "SymGetLineFromAddrW64", help.symGetLineFromAddrW64);
    bind(library, "SymCleanup", help.symCleanup);
    bind(library, "MiniDumpWriteDump", help.miniDumpWriteDump);
    return help;
}

bool isDebugHelpUsable()
{
    const CSharedLibrary library = loadDebugHelp();
    if (!library.isValid())
    {
        return false;
    }
    for (const char* name : {"SymFromAddrW", "SymGetLineFromAddrW64", "SymInitializeW"})
    {
        if (::GetProcAddress(library.get(), name) == nullptr)
        {
            return false;
        }
    }
    return true;
}
