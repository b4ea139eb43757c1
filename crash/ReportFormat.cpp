#include "crash/ReportFormat.h"

#include <windows.h>

std::wstring hexText(std::uint64_t value, int minDigits)
{
    static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
    std::wstring text;
    do
    {
        text.insert(text.begin(), kDigits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    if (static_cast<int>(text.size()) < minDigits)
    {
        text.insert(0, minDigits - text.size(), L'0');
    }
    return text;
}

std::wstring addressText(std::uint64_t value, CMachine machine)
{
    if (machine == CMachine::x86)
    {
        value &= 0xFFFFFFFFu;
    }
    return hexText(value, addressDigits(machine));
}

void crashLine(const std::wstring& text, wchar_t severity)
{
    CTraceLog::writeLine(::GetCurrentThreadId(), kLogTag, severity, text);
}
