#pragma once

#include "crash/DebugHelp.h"
#include "crash/Fault.h"
#include "crash/LogicalAddress.h"
#include "crash/ReportFormat.h"

#include <cstdint>
#include <string>

// The banner that opens and closes a crash report.
extern const wchar_t* const kCrashBanner;

// "  Exception: " name " (0x" code ")".
std::wstring exceptionLine(std::uint32_t code, const std::wstring& name);
// "  Fault address: 0x" address, and when the module is known its section and offset and, on a
// continuation line, its path.
std::wstring faultAddressLine(std::uint64_t address, const CLogicalAddress& logical, CMachine machine = kNativeMachine);

// Writes the crash report into the log: banner, exception, fault address, registers, symbol path,
// call stack and modules, banner. Makes the executable's folder the current directory. An error
// the report meets on its way (a temporary folder that cannot be used, for example) ends it early
// with a line that says why, followed by the closing banner; it never leaves this function.
void writeCrashReport(const CDebugHelp& help, const CFault& fault);

// The three lines written instead of minidump and report when the debugging-help library is
// missing or too old.
void writeDebugHelpNotice();
