#pragma once

#include "win/UniqueHolder.h"

#include <windows.h>

#include <cstdint>
#include <string>

namespace WinAPI
{
// Who may open a mutex this process creates.
enum class MutexAccess
{
    // The default security of the process's account.
    Default,
    // Every account (a null access list), for a mutex that processes of several accounts share;
    // the handle is inherited by the children this process starts.
    Everyone,
};

// Creates or opens a named mutex; existed tells whether it was there already (then initial
// ownership was not granted, nor the given access). An invalid holder when the name cannot be
// used, with the error in error.
CUniqueHandle tryCreateMutex(const std::wstring& name, bool initialOwner, MutexAccess access, bool& existed,
                             std::uint32_t& error);
// The same, throwing "Error creating mutex " + name.
CUniqueHandle createMutex(const std::wstring& name, bool initialOwner, bool& existed);
}  // namespace WinAPI

// A named mutex, created or opened and acquired by the constructor: a new mutex is owned from its
// creation, an existing one is waited for without limit. Throws CTavException ("Error creating
// mutex " + name) when the name cannot be used, for instance because it names an event.
class CNamedMutex
{
public:
    explicit CNamedMutex(const std::wstring& name);

    HANDLE handle() const { return m_handle.get(); }

private:
    CUniqueHandle m_handle;
};

// Waits without limit for a mutex and releases it again. A second release does nothing. The
// mutex's handle must stay open while the lock lives; null is no mutex and no wait.
class CMutexLock
{
public:
    explicit CMutexLock(HANDLE mutex);
    ~CMutexLock() { release(); }
    CMutexLock(const CMutexLock&) = delete;
    CMutexLock& operator=(const CMutexLock&) = delete;

    void release();

private:
    HANDLE m_mutex;
};
