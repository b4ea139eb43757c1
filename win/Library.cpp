#include "win/Library.h"

#include "win/FolderSecurity.h"
#include "win/ProcessCalls.h"
#include "win/SystemCalls.h"
#include "win/TavException.h"

#include <string>

namespace
{
// LoadLibraryExW and SetDefaultDllDirectories flags (Windows 8, or Windows 7 with the update that
// added SetDefaultDllDirectories).
constexpr DWORD kSearchDllLoadDir = 0x00000100;      // LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR
constexpr DWORD kSearchApplicationDir = 0x00000200;  // LOAD_LIBRARY_SEARCH_APPLICATION_DIR
constexpr DWORD kSearchSystem32 = 0x00000800;        // LOAD_LIBRARY_SEARCH_SYSTEM32

using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);

SetDefaultDllDirectoriesFn findSetDefaultDllDirectories()
{
    return findLoadedFunction<SetDefaultDllDirectoriesFn>(L"kernel32.dll", "SetDefaultDllDirectories");
}

std::wstring folderOf(const std::wstring& path)
{
    const std::size_t cut = path.rfind(L'\\');
    return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut);
}

std::wstring systemFolder()
{
    try
    {
        return WinAPI::getSystemDirectory();
    }
    catch (const CTavException&)
    {
        return std::wstring();
    }
}

bool exists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Loads the library at its full path without a system dialog. Its own imports are searched for
// beside it and in the system folder where the loader has the flags for that; before, beside it
// first (the altered search order).
HMODULE loadFrom(const std::wstring& path)
{
    const DWORD flags =
        findSetDefaultDllDirectories() != nullptr ? kSearchDllLoadDir | kSearchSystem32 : LOAD_WITH_ALTERED_SEARCH_PATH;
    const UINT previousMode = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    const HMODULE library = ::LoadLibraryExW(path.c_str(), nullptr, flags);
    ::SetErrorMode(previousMode);
    return library;
}

CUniqueLibrary loadFromSystemFolder(const wchar_t* fileName)
{
    const std::wstring folder = systemFolder();
    if (folder.empty() || !exists(folder + L"\\" + fileName))
    {
        return CUniqueLibrary();
    }
    return CUniqueLibrary(loadFrom(folder + L"\\" + fileName));
}
}  // namespace

void restrictDllSearchPath()
{
    if (const auto setDefault = findSetDefaultDllDirectories())
    {
        const std::wstring executableFolder = folderOf(WinAPI::tryGetModuleFileName());
        const bool besideTheProgram = !executableFolder.empty() && !WinAPI::isFolderWritableByOthers(executableFolder);
        setDefault(besideTheProgram ? kSearchApplicationDir | kSearchSystem32 : kSearchSystem32);
    }
    // Without it, at least take the current directory out of the search order.
    ::SetDllDirectoryW(L"");
}

std::wstring COptionalLibrary::passedOverText() const
{
    return passedOver +
           L" is not loaded: others than the system and the administrators can write to the "
           L"executable's folder or to the library. The library is taken from the system folder only.";
}

COptionalLibrary loadOptionalLibrary(const wchar_t* fileName)
{
    COptionalLibrary result;
    const std::wstring executableFolder = folderOf(WinAPI::tryGetModuleFileName());
    if (!executableFolder.empty())
    {
        const std::wstring candidate = executableFolder + L"\\" + fileName;
        // Held until the library is loaded: the folder checked is the folder loaded from.
        const CUniqueFile folder = WinAPI::holdFolder(executableFolder);
        if (exists(candidate))
        {
            // The file as well: a library others may write is theirs, whoever owns its folder. Held
            // until it is loaded, so the file checked is the file loaded.
            const CUniqueFile file = WinAPI::holdFileForReading(candidate);
            if (!WinAPI::isWritableByOthers(folder.get()) && !WinAPI::isWritableByOthers(file.get()))
            {
                // The first copy found is the one: a broken copy beside the program is never
                // replaced by another.
                result.library = CUniqueLibrary(loadFrom(candidate));
                return result;
            }
            result.passedOver = candidate;
        }
    }
    result.library = loadFromSystemFolder(fileName);
    return result;
}

CUniqueLibrary loadSystemLibrary(const wchar_t* fileName)
{
    return loadFromSystemFolder(fileName);
}
