#pragma once

#include <cstdint>
#include <exception>
#include <ostream>
#include <string>
#include <system_error>

// The category of the codes a CTavException carries: Windows error codes. Its message is the code
// alone; the system's wording is produced only when an exception is described (fullText).
const std::error_category& windowsErrorCategory();

// The system's one exception type: a Windows error code and a message naming the failed
// operation. Thrown by value, caught by reference. A std::system_error with that code, so that one
// catch of std::exception serves it and the runtime's own errors (describeException tells them).
class CTavException : public std::system_error
{
public:
    CTavException(std::uint32_t code, std::wstring text)
        : std::system_error(static_cast<int>(code), windowsErrorCategory()), errorCode(code), message(std::move(text))
    {
    }

    // The message, " Error message: " and the system's wording for the code.
    std::wstring fullText() const;

    std::uint32_t errorCode;
    std::wstring message;
};

std::wostream& operator<<(std::wostream& out, const CTavException& error);

// The text of any exception for the log: a CTavException's full text; for another (memory
// exhausted, an error of the runtime library) what it is.
std::wstring describeException(const std::exception& error);
