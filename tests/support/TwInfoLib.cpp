// A stand-in for the setup product's information library: describes the system and says the
// user is an administrator, but only to a caller whose record has the library's own layout
// (12 bytes on x86).
#include <cstdint>

namespace
{
struct CSystemInformation
{
    std::uint32_t size;
    const wchar_t* text;
    std::uint32_t isAdministrator;
};
}  // namespace

extern "C" __declspec(dllexport) void __cdecl GetGeneralSystemInfo86(CSystemInformation* information)
{
    if (information != nullptr && information->size == sizeof *information)
    {
        information->text = L"Test Windows 11 Pro (build 26100)";
        information->isAdministrator = 0x101;
    }
}
