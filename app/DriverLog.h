#pragma once

#include "log/LogLine.h"

namespace App
{
// The driver's component tag in the log.
constexpr const wchar_t* kDriverTag = L"QorS_Del";

// One driver line made of the given parts, streamed one after another.
template <class... Parts>
void driverLine(wchar_t severity, const Parts&... parts)
{
    CLogLine line(kDriverTag, severity);
    (line << ... << parts);
}
}  // namespace App
