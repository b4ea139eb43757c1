#include "crash/SymbolPath.h"

#include "fs/FilePath.h"
#include "fs/OwnEntry.h"
#include "win/FileCalls.h"
#include "win/FolderSecurity.h"
#include "win/ProcessCalls.h"
#include "win/SystemCalls.h"
#include "win/TavException.h"
#include "win/UniqueHolder.h"

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
    const CFilePath temporary = WinAPI::getTempPath();
    temporary.createDirectories();
    std::wstring server;
    try
    {
        const CFilePath cache = firstOwnName(CFilePath::combine(temporary, L"pdbs"), createOwnFolder);
        server = L";SRV*" + cache + L"*https://" + kSymbolServerHost + L"/download/symbols";
    }
    catch (const CTavException& error)
    {
        // Every name taken (planted, perhaps, to cut the report short): the report goes on
        // without the symbol server.
        if (error.errorCode != ERROR_FILE_EXISTS)
        {
            throw;
        }
    }

    // The marker only spares the symbol server its first-use prompt; the report goes on without.
    // Nothing at all is written into a folder that others can write to, and an entry already at
    // the marker's name is left as it is.
    const CFilePath executableFolder = CFilePath(WinAPI::getModuleFileName()).parent();
    const CUniqueFile folder = WinAPI::holdFolder(executableFolder);
    if (!WinAPI::isWritableByOthers(folder.get()))
    {
        CUniqueFile marker;
        WinAPI::tryCreateNewFile(CFilePath::combine(executableFolder, L"symsrv.yes"), marker);
    }

    return executableFolder + L";" + CFilePath::combine(executableFolder, L"pdbs") + server;
}
