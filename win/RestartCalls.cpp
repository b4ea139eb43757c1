#include "win/RestartCalls.h"

#include "win/NamedMutex.h"
#include "win/RegKey.h"
#include "win/TavException.h"

#include <windows.h>

namespace
{
constexpr const wchar_t* kTurnMutex = L"Global\\TidewellRestartDeletions";
constexpr DWORD kTurnWaitMs = 10000;
}  // namespace

namespace WinAPI
{
void checkRestartDeletion()
{
    HKEY key = nullptr;
    const LONG result =
        ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
    if (result != ERROR_SUCCESS)
    {
        throw CTavException(static_cast<std::uint32_t>(result),
                            std::wstring(L"WinAPI::checkRestartDeletion() failed for ") + kSessionManagerKey + L".");
    }
    CUniqueRegKey(key).reset();
}
}  // namespace WinAPI

CRestartListTurn::CRestartListTurn()
{
    bool existed = false;
    std::uint32_t error = ERROR_SUCCESS;
    m_mutex = WinAPI::tryCreateMutex(kTurnMutex, false, WinAPI::MutexAccess::Default, existed, error);
    if (!m_mutex.isValid())
    {
        throw CTavException(error, std::wstring(L"CRestartListTurn: mutex ") + kTurnMutex + L" failed.");
    }
    const DWORD waited = ::WaitForSingleObject(m_mutex.get(), kTurnWaitMs);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED)
    {
        m_mutex.reset();
        throw CTavException(waited == WAIT_TIMEOUT ? ERROR_TIMEOUT : ::GetLastError(),
                            std::wstring(L"CRestartListTurn: another run holds ") + kTurnMutex + L".");
    }
}

CRestartListTurn::~CRestartListTurn()
{
    ::ReleaseMutex(m_mutex.get());
}
