#include "log/LogHeader.h"

#include "fs/WinAPI.h"

void writeLogHeader(const CTraceConfig& /*settings*/, const CLogTarget& target)
{
    const wchar_t byteOrderMark = 0xFEFF;
    WinAPI::writeFile(target.file.get(), &byteOrderMark, sizeof byteOrderMark);
}
