// A stand-in for the setup product's information library: describes the system and says the
// user is an administrator, but only to a caller whose record has the library's own layout
// (12 bytes on x86). What it does besides, on request of the environment of the process:
//   TW_INFOLIB_FAULT    set: it faults instead (writes through a null pointer), as a broken
//                       library would.
//   TW_INFOLIB_THREAD   it starts a thread of its own that faults, as a library's helper thread
//                       might: "wait" after half a second (while the run waits), or a path: as
//                       soon as that entry is gone (once the deletion has begun).
//   TW_INFOLIB_MARKER   a path: the library writes this file when it is loaded, so a test sees
//                       whether it ran at all.
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
wchar_t g_watched[MAX_PATH];

DWORD WINAPI faultLater(void*)
{
    if (g_watched[0] == L'\0')
    {
        ::Sleep(500);
    }
    else
    {
        while (::GetFileAttributesW(g_watched) != INVALID_FILE_ATTRIBUTES)
        {
            ::Sleep(0);
        }
    }
    *g_nullTarget = 1;
    return 0;
}

void startFaultingThread()
{
    wchar_t request[MAX_PATH];
    const DWORD length = ::GetEnvironmentVariableW(L"TW_INFOLIB_THREAD", request, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
    {
        return;
    }
    if (::lstrcmpW(request, L"wait") != 0)
    {
        ::lstrcpyW(g_watched, request);
    }
    // The caller may free the library once it has its text: the thread's code must stay.
    HMODULE self = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                         reinterpret_cast<LPCWSTR>(&startFaultingThread), &self);
    const HANDLE thread = ::CreateThread(nullptr, 0, faultLater, nullptr, 0, nullptr);
    if (thread != nullptr)
    {
        ::CloseHandle(thread);
    }
}

void writeMarker()
{
    wchar_t marker[MAX_PATH];
    const DWORD length = ::GetEnvironmentVariableW(L"TW_INFOLIB_MARKER", marker, MAX_PATH);
    if (length != 0 && length < MAX_PATH)
    {
        ::CloseHandle(::CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    }
}
}  // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void*)
{
    if (reason == DLL_PROCESS_ATTACH)
    {
        writeMarker();
    }
    return TRUE;
}

extern "C" __declspec(dllexport) void __cdecl GetGeneralSystemInfo86(CSystemInformation* information)
{
    if (::GetEnvironmentVariableW(L"TW_INFOLIB_FAULT", nullptr, 0) != 0)
    {
        *g_nullTarget = 1;
    }
    startFaultingThread();
    if (information != nullptr && information->size == sizeof *information)
    {
        information->text = L"Test Windows 11 Pro (build 26100)";
        information->isAdministrator = 0x101;
    }
}
