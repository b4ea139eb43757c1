#include "win/RestartCalls.h"

#include "win/RegKey.h"
#include "win/TavException.h"

#include <windows.h>

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
    CSharedRegKey(key).reset();
}

void deleteAtRestart(const std::wstring& path)
{
    // Some implementations fail without setting a last error: then the refusal is reported.
    ::SetLastError(ERROR_SUCCESS);
    if (!::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
    {
        const DWORD error = ::GetLastError();
        throw CTavException(error != ERROR_SUCCESS ? error : ERROR_ACCESS_DENIED,
                            L"WinAPI::deleteAtRestart(" + path + L") failed.");
    }
}
}  // namespace WinAPI
