#pragma once

#include "log/TraceLog.h"
#include "win/Platform.h"

#include <cstdint>
#include <string>

// The processor whose register set and address width a report uses. The product is the 32-bit
// x86 program; the x86-64 build writes the same report with its own registers. Addresses are
// written with the full width of the machine's pointers: 8 hexadecimal digits on x86, 16 on x64,
// so that the columns of a report line up whatever the address.
enum class CMachine
{
    x86,
    x64
};

#if TIDEWELL_X86
constexpr CMachine kNativeMachine = CMachine::x86;
#else
constexpr CMachine kNativeMachine = CMachine::x64;
#endif

constexpr int addressDigits(CMachine machine)
{
    return machine == CMachine::x86 ? 8 : 16;
}

// value in upper-case hexadecimal with at least minDigits digits (zeros in front).
std::wstring hexText(std::uint64_t value, int minDigits);
// An address with the machine's full width, without prefix.
std::wstring addressText(std::uint64_t value, CMachine machine = kNativeMachine);

// One line of the crash report for the calling thread, committed as plain text so that a '%' in
// a path or a symbol is never read as a format directive. A line feed in the text starts a
// continuation line in the log.
void crashLine(const std::wstring& text, wchar_t severity = kSeverityError);
