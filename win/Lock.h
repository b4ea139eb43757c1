#pragma once

#include <windows.h>

// A lock for the threads of this process (a slim reader/writer lock, taken exclusively) and a
// condition to wait on under it. Neither holds a kernel object, so neither has anything to close
// or a call that can fail. The lock is not recursive: a thread that holds it must not take it again.
class CLock
{
public:
    CLock() = default;
    CLock(const CLock&) = delete;
    CLock& operator=(const CLock&) = delete;

    void enter() { ::AcquireSRWLockExclusive(&m_lock); }
    void leave() { ::ReleaseSRWLockExclusive(&m_lock); }

    // Holds the lock for its lifetime.
    class CScope
    {
    public:
        explicit CScope(CLock& lock) : m_lock(lock) { m_lock.enter(); }
        ~CScope() { m_lock.leave(); }
        CScope(const CScope&) = delete;
        CScope& operator=(const CScope&) = delete;

    private:
        CLock& m_lock;
    };

    // Inside a CScope: lets the lock go for its lifetime.
    class CUnlocked
    {
    public:
        explicit CUnlocked(CLock& lock) : m_lock(lock) { m_lock.leave(); }
        ~CUnlocked() { m_lock.enter(); }
        CUnlocked(const CUnlocked&) = delete;
        CUnlocked& operator=(const CUnlocked&) = delete;

    private:
        CLock& m_lock;
    };

private:
    friend class CCondition;
    SRWLOCK m_lock = SRWLOCK_INIT;
};

class CCondition
{
public:
    CCondition() = default;
    CCondition(const CCondition&) = delete;
    CCondition& operator=(const CCondition&) = delete;

    // Called with the lock held: lets it go until woken (or woken spuriously), then holds it again.
    void wait(CLock& lock) { ::SleepConditionVariableSRW(&m_condition, &lock.m_lock, INFINITE, 0); }
    void wakeAll() { ::WakeAllConditionVariable(&m_condition); }

private:
    CONDITION_VARIABLE m_condition = CONDITION_VARIABLE_INIT;
};
