#include "crash/ExceptionName.h"

#include <windows.h>

#include <cwchar>

namespace
{
struct CNamedCode
{
    std::uint32_t code;
    const wchar_t* name;
};

constexpr CNamedCode kNames[] = {
    {0x80000001, L"GUARD_PAGE"},
    {0x80000002, L"DATATYPE_MISALIGNMENT"},
    {0x80000003, L"BREAKPOINT"},
    {0x80000004, L"SINGLE_STEP"},
    {0xC0000005, L"ACCESS_VIOLATION"},
    {0xC0000006, L"IN_PAGE_ERROR"},
    {0xC0000008, L"INVALID_HANDLE"},
    {0xC000001D, L"ILLEGAL_INSTRUCTION"},
    {0xC0000025, L"NONCONTINUABLE_EXCEPTION"},
    {0xC0000026, L"INVALID_DISPOSITION"},
    {0xC000008C, L"ARRAY_BOUNDS_EXCEEDED"},
    {0xC000008D, L"FLT_DENORMAL_OPERAND"},
    {0xC000008E, L"FLT_DIVIDE_BY_ZERO"},
    {0xC000008F, L"FLT_INEXACT_RESULT"},
    {0xC0000090, L"FLT_INVALID_OPERATION"},
    {0xC0000091, L"FLT_OVERFLOW"},
    {0xC0000092, L"FLT_STACK_CHECK"},
    {0xC0000093, L"FLT_UNDERFLOW"},
    {0xC0000094, L"INT_DIVIDE_BY_ZERO"},
    {0xC0000095, L"INT_OVERFLOW"},
    {0xC0000096, L"PRIV_INSTRUCTION"},
    {0xC00000FD, L"STACK_OVERFLOW"},
};
}  // namespace

std::wstring getExceptionName(std::uint32_t code)
{
    for (const CNamedCode& entry : kNames)
    {
        if (entry.code == code)
        {
            return entry.name;
        }
    }
    return getMessageText(::GetModuleHandleW(L"ntdll.dll"), code);
}

std::wstring getMessageText(HMODULE module, std::uint32_t code)
{
    constexpr DWORD kFlags = FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS;
    wchar_t buffer[512] = {};
    if (module == nullptr || ::FormatMessageW(kFlags, module, code, 0, buffer, 512, nullptr) == 0)
    {
        return std::wstring();
    }
    return std::wstring(buffer, ::wcsnlen(buffer, 512));
}
