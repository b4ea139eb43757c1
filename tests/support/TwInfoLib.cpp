// A stand-in for the setup product's information library: describes the system and says the
// user is an administrator, but only to a caller whose record has the library's own layout
// (12 bytes on x86). With the environment variable TW_INFOLIB_FAULT set it faults instead (writes
// through a null pointer), as a broken library would.
#include <windows.h>

#include <cstdint>

namespace
{
struct CSystemInformation
{
    std::uint32_t size;
    const wchar_t* text;
    std::uint32_t isAdministrator;
};

volatile int* volatile g_nullTarget = nullptr;
}  // namespace

extern "C" __declspec(dllexport) void __cdecl GetGeneralSystemInfo86(CSystemInformation* information)
{
    if (::GetEnvironmentVariableW(L"TW_INFOLIB_FAULT", nullptr, 0) != 0)
    {
        *g_nullTarget = 1;
    }
    if (information != nullptr && information->size == sizeof *information)
    {
        information->text = L"Test Windows 11 Pro (build 26100)";
        information->isAdministrator = 0x101;
    }
}
