#pragma once

#include "fs/SharedHolder.h"

#include <string>

// A named mutex, created or opened and acquired by the constructor: a new mutex is owned from its
// creation, an existing one is waited for without limit. Throws CTavException ("Error creating
// mutex " + name) when the name cannot be used, for instance because it names an event.
class CNamedMutex
{
public:
    explicit CNamedMutex(const std::wstring& name);

    const CSharedHandle& handle() const { return m_handle; }

private:
    CSharedHandle m_handle;
};

// Waits without limit for a mutex and releases it again. A second release does nothing.
class CMutexLock
{
public:
    explicit CMutexLock(const CSharedHandle& mutex);
    ~CMutexLock() { release(); }
    CMutexLock(const CMutexLock&) = delete;
    CMutexLock& operator=(const CMutexLock&) = delete;

    void release();

private:
    CSharedHandle m_mutex;
};
