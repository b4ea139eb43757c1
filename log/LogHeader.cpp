#include "log/LogHeader.h"

#include "fs/WinAPI.h"

void writeLogHeader(const CTraceConfig& settings, const CLogTarget& target)
{
    const wchar_t byteOrderMark = 0xFEFF;
    WinAPI::writeFile(target.file.get(), &byteOrderMark, sizeof byteOrderMark);
    if (settings.appendMode)
    {
        // A continued file: the mark at its start is rewritten, the new lines go after the old.
        WinAPI::setFilePointer(target.file.get(), 0, FILE_END);
        WinAPI::writeString(target.file.get(), L"\r\n\r\n\r\n");
    }
}
