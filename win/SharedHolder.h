#pragma once

#include <windows.h>

#include <cstdint>
#include <utility>

// A handle with shared ownership. The use count is created only when a second holder appears,
// so a sole owner costs no allocation. The count is a plain integer: holders of one handle are
// used by one thread at a time (the log's holders only under its line lock).
//
// Traits supply the handle type, the empty value, which values are never closed and the close
// call, so kernel handles, directory searches and registry keys share this one implementation.
template <class Traits>
class CSharedHolder
{
public:
    using Handle = typename Traits::Handle;

    CSharedHolder() = default;
    explicit CSharedHolder(Handle handle) : m_handle(handle) {}
    CSharedHolder(const CSharedHolder& other) : m_handle(other.m_handle), m_count(other.share()) {}
    CSharedHolder(CSharedHolder&& other) noexcept
        : m_handle(std::exchange(other.m_handle, Traits::empty())), m_count(std::exchange(other.m_count, nullptr))
    {
    }
    ~CSharedHolder() { reset(); }

    CSharedHolder& operator=(const CSharedHolder& other)
    {
        if (this != &other)
        {
            std::uint32_t* count = other.share();
            reset();
            m_handle = other.m_handle;
            m_count = count;
        }
        return *this;
    }

    CSharedHolder& operator=(CSharedHolder&& other) noexcept
    {
        if (this != &other)
        {
            reset();
            m_handle = std::exchange(other.m_handle, Traits::empty());
            m_count = std::exchange(other.m_count, nullptr);
        }
        return *this;
    }

    Handle get() const { return m_handle; }
    bool isValid() const { return Traits::isValid(m_handle); }

    // Drops this holder's share and leaves it empty; the last share closes the handle.
    void reset()
    {
        if (m_count == nullptr || --*m_count == 0)
        {
            if (Traits::isValid(m_handle))
            {
                Traits::close(m_handle);
            }
            delete m_count;
        }
        m_handle = Traits::empty();
        m_count = nullptr;
    }

    // Number of holders sharing the handle; 1 for a sole owner, 0 when empty.
    std::uint32_t useCount() const
    {
        if (m_count != nullptr)
        {
            return *m_count;
        }
        return m_handle == Traits::empty() ? 0 : 1;
    }

private:
    // A copy is about to be made: the count starts at 1 for this holder and counts the copy too.
    std::uint32_t* share() const
    {
        if (m_handle == Traits::empty())
        {
            return nullptr;
        }
        if (m_count == nullptr)
        {
            m_count = new std::uint32_t(1);
        }
        ++*m_count;
        return m_count;
    }

    Handle m_handle = Traits::empty();
    mutable std::uint32_t* m_count = nullptr;
};

struct KernelHandleTraits
{
    using Handle = HANDLE;
    static Handle empty() { return INVALID_HANDLE_VALUE; }
    static bool isValid(Handle h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void close(Handle h) { ::CloseHandle(h); }
};

struct FindHandleTraits
{
    using Handle = HANDLE;
    static Handle empty() { return INVALID_HANDLE_VALUE; }
    static bool isValid(Handle h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void close(Handle h) { ::FindClose(h); }
};

struct LibraryTraits
{
    using Handle = HMODULE;
    static Handle empty() { return nullptr; }
    static bool isValid(Handle h) { return h != nullptr; }
    static void close(Handle h) { ::FreeLibrary(h); }
};

// Kernel objects: files, mutexes, processes, snapshots.
using CSharedHandle = CSharedHolder<KernelHandleTraits>;
// Directory searches.
using CSharedFindHandle = CSharedHolder<FindHandleTraits>;
// Libraries loaded at run time (LoadLibrary), freed on the last release.
using CSharedLibrary = CSharedHolder<LibraryTraits>;
