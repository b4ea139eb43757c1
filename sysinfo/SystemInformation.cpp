// The setup product's information library (MxQorTavUt.dll): describes the system and tells whether
// the calling process has administrator rights, for the header of the trace log. One export,
// GetGeneralSystemInfo86, called with the C calling convention and a record whose first field is
// its size (12 bytes on x86). The library throws nothing and allocates nothing that the caller
// must free: the text lives in the library until it is unloaded.
#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <string>

namespace
{
struct CSystemInformation
{
    std::uint32_t size;
    const wchar_t* text;
    std::uint32_t isAdministrator;
};
#if defined(_M_IX86) || defined(__i386__)
static_assert(sizeof(CSystemInformation) == 12, "the log header passes a 12-byte record");
#endif

const wchar_t* const kVersionKey = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
// The first build of Windows 11, whose ProductName still says "Windows 10".
constexpr DWORD kFirstWindows11Build = 22000;

// A registry key open for reading, closed at the end of the scope.
class CKey
{
public:
    CKey(HKEY parent, const wchar_t* path)
    {
        // The 64-bit view: a 32-bit caller on 64-bit Windows describes the system, not its view.
        if (::RegOpenKeyExW(parent, path, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &m_key) != ERROR_SUCCESS)
        {
            m_key = nullptr;
        }
    }
    ~CKey()
    {
        if (m_key != nullptr)
        {
            ::RegCloseKey(m_key);
        }
    }
    CKey(const CKey&) = delete;
    CKey& operator=(const CKey&) = delete;

    // A string value, or empty when it is missing or no string.
    std::wstring text(const wchar_t* name) const
    {
        wchar_t value[256] = L"";
        DWORD size = sizeof value;
        if (m_key == nullptr ||
            ::RegGetValueW(m_key, nullptr, name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        {
            return std::wstring();
        }
        return value;
    }

    // A DWORD value, or 0 when it is missing.
    DWORD number(const wchar_t* name) const
    {
        DWORD value = 0;
        DWORD size = sizeof value;
        if (m_key == nullptr ||
            ::RegGetValueW(m_key, nullptr, name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
        {
            return 0;
        }
        return value;
    }

private:
    HKEY m_key = nullptr;
};

// The version as the kernel reports it: unlike GetVersionEx, not bent to the caller's manifest.
RTL_OSVERSIONINFOW kernelVersion()
{
    RTL_OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    using RtlGetVersionFn = LONG(WINAPI*)(RTL_OSVERSIONINFOW*);
    const auto getVersion =
        reinterpret_cast<RtlGetVersionFn>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion"));
    if (getVersion == nullptr || getVersion(&version) != 0)
    {
        version = RTL_OSVERSIONINFOW{};
    }
    return version;
}

bool is64BitSystem()
{
#if defined(_WIN64)
    return true;
#else
    BOOL wow64 = FALSE;
    return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
#endif
}

// For example "Windows 10 Pro 22H2 (build 19045.3803), 64-bit" or
// "Windows 7 Professional Service Pack 1 (build 7601), 64-bit".
std::wstring describeSystem()
{
    const RTL_OSVERSIONINFOW version = kernelVersion();
    const CKey key(HKEY_LOCAL_MACHINE, kVersionKey);
    std::wstring name = key.text(L"ProductName");
    if (name.empty())
    {
        name = L"Windows " + std::to_wstring(version.dwMajorVersion) + L"." + std::to_wstring(version.dwMinorVersion);
    }
    else if (version.dwBuildNumber >= kFirstWindows11Build && name.starts_with(L"Windows 10"))
    {
        name.replace(8, 2, L"11");
    }
    std::wstring release = key.text(L"DisplayVersion");
    if (release.empty())
    {
        release = key.text(L"ReleaseId");
    }
    if (!release.empty())
    {
        name += L" " + release;
    }
    if (version.szCSDVersion[0] != L'\0')
    {
        name += L" " + std::wstring(version.szCSDVersion);
    }
    name += L" (build " + std::to_wstring(version.dwBuildNumber);
    if (const DWORD revision = key.number(L"UBR"); revision != 0)
    {
        name += L"." + std::to_wstring(revision);
    }
    return name + (is64BitSystem() ? L"), 64-bit" : L"), 32-bit");
}

// Elevated, or a member of the administrators whose membership is not only for denying.
bool isAdministrator()
{
    HANDLE token = nullptr;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
    {
        TOKEN_ELEVATION elevation{};
        DWORD size = 0;
        const bool elevated = ::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
                              elevation.TokenIsElevated != 0;
        ::CloseHandle(token);
        if (elevated)
        {
            return true;
        }
    }
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!::AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0,
                                    0, 0, &administrators))
    {
        return false;
    }
    BOOL member = FALSE;
    const bool checked = ::CheckTokenMembership(nullptr, administrators, &member);
    ::FreeSid(administrators);
    return checked && member;
}
}  // namespace

extern "C" __declspec(dllexport) void __cdecl GetGeneralSystemInfo86(CSystemInformation* information)
{
    if (information == nullptr || information->size < sizeof *information)
    {
        return;
    }
    // Made once, on the first call (thread-safe), and kept while the library is loaded.
    static const std::wstring description = describeSystem();
    information->text = description.c_str();
    information->isAdministrator = isAdministrator() ? 1 : 0;
}
