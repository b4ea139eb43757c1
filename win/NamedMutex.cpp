#include "win/NamedMutex.h"

#include "win/Platform.h"
#include "win/TavException.h"

namespace WinAPI
{
CUniqueHandle tryCreateMutex(const std::wstring& name, bool initialOwner, MutexAccess access, bool& existed,
                             std::uint32_t& error)
{
    SECURITY_DESCRIPTOR everyone{};
    SECURITY_ATTRIBUTES attributes{sizeof attributes, &everyone, TRUE};
#if TIDEWELL_X86
    static_assert(sizeof attributes == 12, "SECURITY_ATTRIBUTES of the 32-bit program");
#endif
    // Neither call can fail on a descriptor of this process's own memory.
    ::InitializeSecurityDescriptor(&everyone, SECURITY_DESCRIPTOR_REVISION);
    ::SetSecurityDescriptorDacl(&everyone, TRUE, nullptr, FALSE);
    SECURITY_ATTRIBUTES* security = access == MutexAccess::Everyone ? &attributes : nullptr;
    // Only ERROR_ALREADY_EXISTS tells that the mutex was there already; never let an earlier
    // call's code stand for it.
    ::SetLastError(ERROR_SUCCESS);
    CUniqueHandle mutex(::CreateMutexW(security, initialOwner ? TRUE : FALSE, name.c_str()));
    error = ::GetLastError();
    existed = mutex.isValid() && error == ERROR_ALREADY_EXISTS;
    return mutex;
}

CUniqueHandle createMutex(const std::wstring& name, bool initialOwner, bool& existed)
{
    std::uint32_t error = ERROR_SUCCESS;
    CUniqueHandle mutex = tryCreateMutex(name, initialOwner, MutexAccess::Default, existed, error);
    if (!mutex.isValid())
    {
        throw CTavException(error, L"Error creating mutex " + name);
    }
    return mutex;
}
}  // namespace WinAPI

CNamedMutex::CNamedMutex(const std::wstring& name)
{
    bool existed = false;
    m_handle = WinAPI::createMutex(name, true, existed);
    if (existed)
    {
        // Someone else created it, so initial ownership was not granted. An abandoned mutex
        // counts as acquired.
        ::WaitForSingleObject(m_handle.get(), INFINITE);
    }
}

CMutexLock::CMutexLock(HANDLE mutex) : m_mutex(mutex)
{
    if (m_mutex != nullptr)
    {
        ::WaitForSingleObject(m_mutex, INFINITE);
    }
}

void CMutexLock::release()
{
    if (m_mutex != nullptr)
    {
        ::ReleaseMutex(m_mutex);
    }
    m_mutex = nullptr;
}
