#include "win/NativeCalls.h"

#include "win/LoadedFunction.h"
#include "win/TavException.h"

#include <string>

namespace
{
// An entry point the program cannot do without: its absence is reported where it is first used.
template <class Function>
Function required(const char* name)
{
    const auto function = findLoadedFunction<Function>(L"ntdll.dll", name);
    if (function == nullptr)
    {
        const std::string text(name);
        throw CTavException(ERROR_PROC_NOT_FOUND, L"ntdll.dll has no " + std::wstring(text.begin(), text.end()) + L".");
    }
    return function;
}
}  // namespace

CNativeCalls::CNativeCalls()
    : createFile(required<NtCreateFileFn>("NtCreateFile")),
      queryInformationFile(required<NtQueryInformationFileFn>("NtQueryInformationFile")),
      queryDirectoryFile(required<NtQueryDirectoryFileFn>("NtQueryDirectoryFile")),
      queryObject(required<NtQueryObjectFn>("NtQueryObject")),
      setInformationFile(required<NtSetInformationFileFn>("NtSetInformationFile")),
      queryInformationProcess(required<NtQueryInformationProcessFn>("NtQueryInformationProcess")),
      statusToError(required<RtlNtStatusToDosErrorFn>("RtlNtStatusToDosError")),
      followsLinks(findLoadedFunction<FARPROC>(L"ntdll.dll", "wine_get_version") != nullptr)
{
}

CRelativeName::CRelativeName(HANDLE folder, const std::wstring& name, ULONG attributes, PSECURITY_DESCRIPTOR security)
{
    m_text.Buffer = const_cast<PWSTR>(name.c_str());
    m_text.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    m_text.MaximumLength = m_text.Length;
    m_attributes.Length = sizeof m_attributes;
    m_attributes.RootDirectory = folder;
    m_attributes.ObjectName = &m_text;
    m_attributes.Attributes = attributes;
    m_attributes.SecurityDescriptor = security;
}

const CNativeCalls& native()
{
    static const CNativeCalls calls;
    return calls;
}
