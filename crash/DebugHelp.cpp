#include "crash/DebugHelp.h"

namespace
{
template <class Function>
void bind(const CUniqueLibrary& library, const char* name, Function& function)
{
    function = findFunction<Function>(library, name);
}
}  // namespace

bool CDebugHelp::canWalkStack() const
{
    return symInitializeW != nullptr && symSetOptions != nullptr && symGetOptions != nullptr &&
           stackWalk64 != nullptr && symGetModuleBase64 != nullptr && symFunctionTableAccess64 != nullptr &&
           symFromAddrW != nullptr && symGetLineFromAddrW64 != nullptr && symCleanup != nullptr;
}

COptionalLibrary loadDebugHelp()
{
    return loadOptionalLibrary(L"dbghelp.dll");
}

CDebugHelp bindDebugHelp(const CUniqueLibrary& library)
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

bool isDebugHelpUsable(const CDebugHelp& help)
{
    return help.symFromAddrW != nullptr && help.symGetLineFromAddrW64 != nullptr && help.symInitializeW != nullptr;
}
