#pragma once

#include <windows.h>

#include <utility>

// The sole owner of a handle: it closes the handle when it goes away, and can be moved but not
// copied. Traits name the handle type, the value that means "nothing held" and the close call;
// each kind of handle has its own, because Windows reports a failed creation as null for some
// calls and as INVALID_HANDLE_VALUE for others.
template <class Traits>
class CUniqueHolder
{
public:
    using Handle = typename Traits::Handle;

    CUniqueHolder() = default;
    explicit CUniqueHolder(Handle handle) : m_handle(handle) {}
    CUniqueHolder(const CUniqueHolder&) = delete;
    CUniqueHolder& operator=(const CUniqueHolder&) = delete;
    CUniqueHolder(CUniqueHolder&& other) noexcept : m_handle(other.release()) {}
    CUniqueHolder& operator=(CUniqueHolder&& other) noexcept
    {
        if (this != &other)
        {
            reset(other.release());
        }
        return *this;
    }
    ~CUniqueHolder() { reset(); }

    Handle get() const { return m_handle; }
    bool isValid() const { return m_handle != Traits::empty(); }

    // Closes what is held and holds the given handle instead.
    void reset(Handle handle = Traits::empty())
    {
        if (isValid())
        {
            Traits::close(m_handle);
        }
        m_handle = handle;
    }

    // Gives the handle up without closing it.
    Handle release() { return std::exchange(m_handle, Traits::empty()); }

private:
    Handle m_handle = Traits::empty();
};

// Kernel objects whose creation reports failure as null: mutexes, events, processes, threads,
// tokens, duplicated handles. The pseudo-handle of the current process (-1) is held like any
// other; closing it does nothing.
struct KernelHandleTraits
{
    using Handle = HANDLE;
    static Handle empty() { return nullptr; }
    static void close(Handle handle) { ::CloseHandle(handle); }
};

// Files and folders, and the other handles whose creation reports failure as
// INVALID_HANDLE_VALUE (ReOpenFile, CreateToolhelp32Snapshot). Handles from the native opens are
// held only when the open succeeded.
struct FileHandleTraits
{
    using Handle = HANDLE;
    static Handle empty() { return INVALID_HANDLE_VALUE; }
    static void close(Handle handle) { ::CloseHandle(handle); }
};

// Directory searches (FindFirstFileExW).
struct FindHandleTraits
{
    using Handle = HANDLE;
    static Handle empty() { return INVALID_HANDLE_VALUE; }
    static void close(Handle handle) { ::FindClose(handle); }
};

// Libraries loaded at run time (LoadLibrary).
struct LibraryTraits
{
    using Handle = HMODULE;
    static Handle empty() { return nullptr; }
    static void close(Handle handle) { ::FreeLibrary(handle); }
};

using CUniqueHandle = CUniqueHolder<KernelHandleTraits>;
using CUniqueFile = CUniqueHolder<FileHandleTraits>;
using CUniqueFindHandle = CUniqueHolder<FindHandleTraits>;
using CUniqueLibrary = CUniqueHolder<LibraryTraits>;
