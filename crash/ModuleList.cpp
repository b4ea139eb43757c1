#include "crash/ModuleList.h"

#include "win/Platform.h"
#include "win/UniqueHolder.h"

#include <windows.h>
#include <tlhelp32.h>

#if TIDEWELL_X86
static_assert(sizeof(MODULEENTRY32W) == 1064, "the x86 module entry has 1064 bytes");
#endif

std::wstring moduleLine(std::uint64_t base, std::uint64_t size, const std::wstring& path, CFileVersion version,
                        CMachine machine)
{
    std::wstring line = L"   " + addressText(base, machine) + L" - " + addressText(base + size, machine) + L" " + path;
    if (CFileVersion::compare(version, CFileVersion()) != 0)
    {
        line += L" (" + version.text() + L")";
    }
    return line;
}

void writeModuleList()
{
    crashLine(L"  Modules:");
    // "Upper" stands above the upper ends, whatever the address width.
    crashLine(L"   Base" + std::wstring(addressDigits(kNativeMachine) - 2, L' ') + L"Upper");

    const CUniqueFile snapshot(
        ::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, ::GetCurrentProcessId()));
    if (!snapshot.isValid())
    {
        return;
    }
    MODULEENTRY32W module{};
    module.dwSize = sizeof module;
    for (BOOL more = ::Module32FirstW(snapshot.get(), &module); more; more = ::Module32NextW(snapshot.get(), &module))
    {
        const CFilePath path(module.szExePath);
        crashLine(moduleLine(reinterpret_cast<std::uintptr_t>(module.modBaseAddr), module.modBaseSize, path,
                             getFileVersion(path)));
    }
}
