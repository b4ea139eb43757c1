#pragma once

#include <windows.h>
#include <winternl.h>

#include <string>

using NtCreateFileFn = LONG(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG,
                                    ULONG, ULONG, ULONG, PVOID, ULONG);
using NtQueryInformationFileFn = LONG(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);
using NtQueryDirectoryFileFn = LONG(NTAPI*)(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG,
                                            BOOLEAN, PUNICODE_STRING, BOOLEAN);
using NtQueryObjectFn = LONG(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
using NtSetInformationFileFn = LONG(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);
using NtQueryInformationProcessFn = LONG(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
using RtlNtStatusToDosErrorFn = ULONG(NTAPI*)(LONG);

// The native calls behind the handle-relative opens and creations, and the process's parent. ntdll is mapped into every
// process before the program itself, so it is looked up, not imported.
struct CNativeCalls
{
    CNativeCalls();

    NtCreateFileFn createFile;
    NtQueryInformationFileFn queryInformationFile;
    NtQueryDirectoryFileFn queryDirectoryFile;
    NtQueryObjectFn queryObject;
    NtSetInformationFileFn setInformationFile;
    NtQueryInformationProcessFn queryInformationProcess;
    RtlNtStatusToDosErrorFn statusToError;
    // True under Wine (ntdll exports wine_get_version).
    bool followsLinks;
};

// The calls, looked up once.
const CNativeCalls& native();

// A name relative to a folder's handle, as the native opens take it. It points into name, which
// must outlive it.
class CRelativeName
{
public:
    CRelativeName(HANDLE folder, const std::wstring& name, ULONG attributes = 0,
                  PSECURITY_DESCRIPTOR security = nullptr);
    CRelativeName(const CRelativeName&) = delete;
    CRelativeName& operator=(const CRelativeName&) = delete;

    OBJECT_ATTRIBUTES* get() { return &m_attributes; }

private:
    UNICODE_STRING m_text{};
    OBJECT_ATTRIBUTES m_attributes{};
};
