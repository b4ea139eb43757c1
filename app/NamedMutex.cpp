#include "app/NamedMutex.h"

#include "fs/WinAPI.h"

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

CMutexLock::CMutexLock(const CSharedHandle& mutex) : m_mutex(mutex)
{
    if (m_mutex.isValid())
    {
        ::WaitForSingleObject(m_mutex.get(), INFINITE);
    }
}

void CMutexLock::release()
{
    if (m_mutex.isValid())
    {
        ::ReleaseMutex(m_mutex.get());
    }
    m_mutex.release();
}
