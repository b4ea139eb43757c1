#include "win/TavException.h"

#include "win/ErrorText.h"

#include <new>

namespace
{
class CWindowsErrorCategory : public std::error_category
{
public:
    const char* name() const noexcept override { return "windows"; }
    std::string message(int code) const override
    {
        return "Windows error " + std::to_string(static_cast<unsigned>(code));
    }
};
}  // namespace

const std::error_category& windowsErrorCategory()
{
    static const CWindowsErrorCategory category;
    return category;
}

std::wstring CTavException::fullText() const
{
    return message + L" Error message: " + WinAPI::getErrorText(errorCode);
}

std::wostream& operator<<(std::wostream& out, const CTavException& error)
{
    return out << error.fullText();
}

std::wstring describeException(const std::exception& error)
{
    if (const auto* windows = dynamic_cast<const CTavException*>(&error))
    {
        return windows->fullText();
    }
    if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr)
    {
        return L"Out of memory.";
    }
    return L"An error of the runtime library.";
}
