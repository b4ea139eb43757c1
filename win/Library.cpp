#include "win/Library.h"

#include "win/ProcessCalls.h"
#include "win/SystemCalls.h"
#include "win/TavException.h"

#include <initializer_list>
#include <string>

namespace
{
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

CSharedLibrary loadFromFolders(const wchar_t* fileName, std::initializer_list<std::wstring> folders)
{
    const UINT previousMode = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    HMODULE library = nullptr;
    for (const std::wstring& folder : folders)
    {
        if (folder.empty())
        {
            continue;
        }
        const std::wstring candidate = folder + L"\\" + fileName;
        if (::GetFileAttributesW(candidate.c_str()) == INVALID_FILE_ATTRIBUTES)
        {
            continue;
        }
        // The first copy found is the one: a broken copy beside the program is never replaced by
        // another. Its own imports are searched for beside it, not in the current directory.
        library = ::LoadLibraryExW(candidate.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        break;
    }
    ::SetErrorMode(previousMode);
    return CSharedLibrary(library);
}
}  // namespace

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

CSharedLibrary loadOptionalLibrary(const wchar_t* fileName)
{
    return loadFromFolders(fileName, {folderOf(WinAPI::tryGetModuleFileName()), systemFolder()});
}

CSharedLibrary loadSystemLibrary(const wchar_t* fileName)
{
    return loadFromFolders(fileName, {systemFolder()});
}
