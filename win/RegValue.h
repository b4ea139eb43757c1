#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One registry value as read: its name as asked for, exactly the bytes the registry returned and
// the type it reported. The conversions do not look at the type; callers check it first.
struct RegValue
{
    std::wstring name;
    std::vector<std::uint8_t> data;
    std::uint32_t type = 0;

    // The first four bytes as a little-endian number; further bytes are ignored. Throws
    // CTavException with code 0 when there are fewer than four.
    std::uint32_t toDWORD() const;
    // The data as UTF-16 units (an odd last byte is ignored) without one trailing terminator.
    std::wstring toString() const;
};
