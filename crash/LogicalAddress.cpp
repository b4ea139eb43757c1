#include "crash/LogicalAddress.h"

#include "win/Platform.h"
#include "win/ProcessCalls.h"
#include "win/TavException.h"

#include <windows.h>

#include <algorithm>

#if TIDEWELL_X86
static_assert(sizeof(MEMORY_BASIC_INFORMATION) == 28, "the x86 memory information record has 28 bytes");
#endif

CLogicalAddress getLogicalAddress(std::uintptr_t address)
{
    CLogicalAddress result;
    MEMORY_BASIC_INFORMATION memory{};
    if (::VirtualQuery(reinterpret_cast<const void*>(address), &memory, sizeof memory) == 0 ||
        memory.AllocationBase == nullptr)
    {
        return result;
    }
    const auto module = static_cast<HMODULE>(memory.AllocationBase);
    const CFilePath modulePath = WinAPI::tryGetModuleFileName(module);
    if (modulePath.empty())
    {
        return result;
    }

    // A loaded module: its headers are mapped at its base. The signatures are checked anyway, so
    // that a region that only looks like a module is never read beyond its headers.
    const auto base = reinterpret_cast<const std::uint8_t*>(module);
    const auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE)
    {
        return result;
    }
    const auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE)
    {
        return result;
    }
    // The section table follows the optional header (IMAGE_FIRST_SECTION, without its const cast).
    const auto* section = reinterpret_cast<const IMAGE_SECTION_HEADER*>(
        reinterpret_cast<const std::uint8_t*>(&nt->OptionalHeader) + nt->FileHeader.SizeOfOptionalHeader);
    const std::uintptr_t rva = address - reinterpret_cast<std::uintptr_t>(base);
    for (unsigned number = 1; number <= nt->FileHeader.NumberOfSections; ++number, ++section)
    {
        const std::uintptr_t start = section->VirtualAddress;
        const std::uintptr_t length = std::max<std::uintptr_t>(section->SizeOfRawData, section->Misc.VirtualSize);
        if (start <= rva && rva <= start + length)
        {
            result.found = true;
            result.modulePath = modulePath;
            result.section = number;
            result.offset = static_cast<std::uint32_t>(rva - start);
            result.moduleOffset = rva;
            return result;
        }
    }
    return result;
}
