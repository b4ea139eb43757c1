#include "crash/MemoryRows.h"

#include <windows.h>

#include <array>
#include <cwctype>

namespace
{
constexpr std::size_t kBytesShown = 32;
constexpr std::size_t kRowBytes = 16;

bool standsForItself(std::uint8_t byte)
{
    const auto unit = static_cast<wint_t>(byte);
    return byte != 0 && (std::iswalnum(unit) || std::iswpunct(unit) || unit == L' ');
}

// How many of the count bytes at address lie in committed, readable memory. Asked before the
// read, because reading the own process does not fail everywhere it should: under Wine it
// returns zeros for memory that is only reserved.
std::size_t readableBytes(std::uintptr_t address, std::size_t count)
{
    constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                                PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    std::size_t readable = 0;
    while (readable < count)
    {
        MEMORY_BASIC_INFORMATION region{};
        if (::VirtualQuery(reinterpret_cast<const void*>(address + readable), &region, sizeof region) == 0 ||
            region.State != MEM_COMMIT || (region.Protect & kReadable) == 0 || (region.Protect & PAGE_GUARD) != 0)
        {
            break;
        }
        const std::uintptr_t regionEnd = reinterpret_cast<std::uintptr_t>(region.BaseAddress) + region.RegionSize;
        readable = regionEnd - address < count ? regionEnd - address : count;
    }
    return readable;
}

// Reads the readable part of the kBytesShown bytes at address; returns the count read.
std::size_t readMemory(std::uintptr_t address, std::uint8_t* buffer)
{
    const std::size_t readable = readableBytes(address, kBytesShown);
    SIZE_T count = 0;
    if (readable == 0 ||
        !::ReadProcessMemory(::GetCurrentProcess(), reinterpret_cast<const void*>(address), buffer, readable, &count))
    {
        return 0;
    }
    return count;
}
}  // namespace

std::wstring memoryRow(std::uint64_t rowAddress, const std::uint8_t* bytes, std::size_t valid, CMachine machine)
{
    static constexpr wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring hex;
    std::wstring characters;
    for (std::size_t i = 0; i < kRowBytes; ++i)
    {
        if (i < valid)
        {
            hex += kDigits[bytes[i] >> 4];
            hex += kDigits[bytes[i] & 0xF];
            characters += standsForItself(bytes[i]) ? static_cast<wchar_t>(bytes[i]) : L'.';
        }
        else
        {
            hex += L"??";
            characters += L'.';
        }
        hex += L' ';
    }
    return std::wstring(27, L' ') + addressText(rowAddress, machine) + L"   " + hex + L"  " + characters;
}

std::vector<std::wstring> memoryRows(std::uintptr_t address, CMachine machine)
{
    std::array<std::uint8_t, kBytesShown + 1> buffer{};
    const std::size_t count = readMemory(address, buffer.data());
    std::vector<std::wstring> rows;
    for (std::size_t start = 0; start < count; start += kRowBytes)
    {
        rows.push_back(memoryRow(address + start, buffer.data() + start, count - start, machine));
    }
    return rows;
}

void writeMemoryRows(std::uintptr_t address)
{
    for (const std::wstring& row : memoryRows(address))
    {
        crashLine(row);
    }
}
