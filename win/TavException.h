#pragma once

#include <cstdint>
#include <ostream>
#include <string>

// The system's one exception type: a Windows error code and a message naming the failed
// operation. Thrown by value, caught by reference; the system text for the code is produced
// only when the exception is described.
class CTavException
{
public:
    CTavException(std::uint32_t code, std::wstring text) : errorCode(code), message(std::move(text)) {}

    // The message, " Error message: " and the system's wording for the code.
    std::wstring fullText() const;

    std::uint32_t errorCode;
    std::wstring message;
};

std::wostream& operator<<(std::wostream& out, const CTavException& error);
