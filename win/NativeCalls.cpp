#include "win/NativeCalls.h"

CNativeCalls::CNativeCalls()
{
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    createFile = reinterpret_cast<NtCreateFileFn>(::GetProcAddress(ntdll, "NtCreateFile"));
    queryInformationFile =
        reinterpret_cast<NtQueryInformationFileFn>(::GetProcAddress(ntdll, "NtQueryInformationFile"));
    queryDirectoryFile = reinterpret_cast<NtQueryDirectoryFileFn>(::GetProcAddress(ntdll, "NtQueryDirectoryFile"));
    queryObject = reinterpret_cast<NtQueryObjectFn>(::GetProcAddress(ntdll, "NtQueryObject"));
    setInformationFile = reinterpret_cast<NtSetInformationFileFn>(::GetProcAddress(ntdll, "NtSetInformationFile"));
    queryInformationProcess =
        reinterpret_cast<NtQueryInformationProcessFn>(::GetProcAddress(ntdll, "NtQueryInformationProcess"));
    statusToError = reinterpret_cast<RtlNtStatusToDosErrorFn>(::GetProcAddress(ntdll, "RtlNtStatusToDosError"));
    followsLinks = ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

const CNativeCalls& native()
{
    static const CNativeCalls calls;
    return calls;
}
