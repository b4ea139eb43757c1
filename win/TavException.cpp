#include "win/TavException.h"

#include "win/ErrorText.h"

std::wstring CTavException::fullText() const
{
    return message + L" Error message: " + WinAPI::getErrorText(errorCode);
}

std::wostream& operator<<(std::wostream& out, const CTavException& error)
{
    return out << error.fullText();
}
