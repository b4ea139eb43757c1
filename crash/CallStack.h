#pragma once

#include "crash/DebugHelp.h"
#include "crash/LogicalAddress.h"
#include "crash/ReportFormat.h"

#include <windows.h>

#include <cstdint>
#include <string>

// A frame's first line: a tab, the code address, 2 blanks, the frame address, 6 blanks and the
// code address's place in its module (empty when no module holds it).
std::wstring frameLine(std::uint64_t pc, std::uint64_t frame, const std::wstring& place,
                       CMachine machine = kNativeMachine);
// A code address's place in its module as "<module file name>+0x<offset from the module's base>":
// what a report from a machine without the PDB is symbolised with later, against the archived
// PDB of that module. Empty when the address lies in no module.
std::wstring modulePlace(const CLogicalAddress& logical);
// "Param <index>:   0x" and the value as an address, indented by 19 blanks.
std::wstring paramLine(int index, std::uint64_t value, CMachine machine = kNativeMachine);

// The call-stack section of the report for the thread whose processor context is given: for
// every frame its addresses, its symbol (or its module, section and offset), its source line
// and, for the first eight frames, four parameters with the memory they point to. Writes nothing
// when the symbol handler cannot start.
//
// The walk ends when the walker fails, at the end of the stack (x86: a frame address of 0, the
// end of the frame-pointer chain; x64: a code address of 0, since there the frame pointer is an
// ordinary register), when a step no longer moves, or after 1000 frames (then a line says so;
// a stack overflow otherwise writes tens of thousands of lines). On x86 a failed or stuck step
// is first retried along the frame-pointer chain, which the program keeps.
//
// Parameters: on x86 the four stack words above the return address, as the walker reads them. On
// x64 the walker supplies none; the report shows the four words of the frame's register home
// area (the 32 bytes the caller reserves above the return address, where the first four
// arguments are kept when the callee spills them), read from the caller's stack pointer.
void writeCallStack(const CDebugHelp& help, HANDLE process, HANDLE thread, const std::wstring& symbolPath,
                    const CONTEXT& context);
