#include "crash/SymbolPath.h"

#include "fs/FilePath.h"
#include "win/ProcessCalls.h"
#include "win/SharedHolder.h"
#include "win/SystemCalls.h"

#include <windows.h>

namespace
{
// The host of the public symbol server. A placeholder: the ".invalid" top-level domain never
// resolves, so a lookup fails at once instead of waiting on the network. Put the platform's
// public symbol server here to have system symbols downloaded.
constexpr const wchar_t* kSymbolServerHost = L"symbols.invalid";
}  // namespace

std::wstring buildSymbolPath()
{
    const CFilePath cache = CFilePath::combine(WinAPI::getTempPath(), L"pdbs");
    cache.createDirectories();

    // The marker only spares the symbol server its first-use prompt; the report goes on without.
    CSharedHandle(::CreateFileW(L"symsrv.yes", GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));

    const CFilePath executableFolder = CFilePath(WinAPI::getModuleFileName()).parent();
    return executableFolder + L";" + CFilePath::combine(executableFolder, L"pdbs") + L";SRV*" + cache + L"*https://" +
           kSymbolServerHost + L"/download/symbols";
}
