#include "app/NumberConversion.h"

#include "fs/LowerCase.h"

#include <cstdint>
#include <cwctype>
#include <sstream>
#include <typeinfo>

namespace App
{
namespace
{
// Extracts a signed 32-bit number with the stream's rules and accepts it only when nothing but
// white space follows.
bool extract(const std::wstring& text, std::ios_base& (*base)(std::ios_base&), std::int32_t& number)
{
    std::wistringstream stream(text);
    stream >> base >> number;
    if (stream.fail())
    {
        return false;
    }
    wchar_t rest;
    while (stream.get(rest))
    {
        if (!std::iswspace(rest))
        {
            return false;
        }
    }
    return true;
}
}  // namespace

int convertToNumber(const std::wstring& text)
{
    std::int32_t number = 0;
    if (extract(text, std::dec, number))
    {
        return number;
    }
    const std::wstring lower = lowerCaseCopy(text);
    if (lower.size() <= 2 || lower.compare(0, 2, L"0x") != 0 || !extract(lower.substr(2), std::hex, number))
    {
        throw std::bad_cast();
    }
    return number;
}
}  // namespace App
