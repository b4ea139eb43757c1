#include "win/RegValue.h"

#include "win/TavException.h"

std::uint32_t RegValue::toDWORD() const
{
    if (data.size() < 4)
    {
        throw CTavException(0, L"RegValue does not have enough data for conversion to DWORD");
    }
    return static_cast<std::uint32_t>(data[0]) | (static_cast<std::uint32_t>(data[1]) << 8) |
           (static_cast<std::uint32_t>(data[2]) << 16) | (static_cast<std::uint32_t>(data[3]) << 24);
}

std::wstring RegValue::toString() const
{
    std::wstring text(data.size() / 2, L'\0');
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        text[i] = static_cast<wchar_t>(data[2 * i] | (data[2 * i + 1] << 8));
    }
    // Only one terminator goes: data that really ends in zero units keeps the rest.
    if (!text.empty() && text.back() == L'\0')
    {
        text.pop_back();
    }
    return text;
}
