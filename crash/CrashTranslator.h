#pragma once

#include <windows.h>

#include <cstdint>

// The system's translator of structured exceptions (access violations, stack overflows, integer
// divisions by zero and the like): it turns such a fault into a minidump and a crash report in
// the log and ends the process with exit code 1.
//
// A GCC build has no runtime translator to install (C++ catch never sees a structured exception
// there), so the platform's own mechanisms stand in for it, for every thread of the process:
// - an unhandled-exception filter (SetUnhandledExceptionFilter) receives each structured
//   exception that no handler takes; GCC's own C++ exceptions pass on to the filter that was
//   installed before;
// - a vectored handler (AddVectoredExceptionHandler) takes stack overflows first, while the
//   little stack that is left still suffices to hand the fault on; the filter would come later,
//   after the search through the frame-based handlers.
// Both call crashTranslator. Installing also keeps 32 KB of the calling thread's stack back for
// the handler of an overflow, and of every thread started through CThread from then on.
void installCrashTranslator();

// Handles a structured exception and ends the process with exit code 1; never returns.
//
// The faulting thread does little itself, since it may have almost no stack left (an overflow)
// or hold a lock the report needs: it passes the first-crasher gate, halts the rest of the
// program (win/CrashHalt.h: every other thread stops at its next deletion, log line or normal
// end, giving up the log's locks), gives up the log's line lock and the log file's sync mutex if
// it held them, starts a thread for the work, handing it the exception pointers, waits for it (at
// most a minute, in case the report hangs all the same) and ends the process. The reporter has a fresh stack and walks the faulting thread's saved context:
// it makes sure the log has a file (a crash can come before the log is open or while its header
// is written), and when the debugging-help library is usable it writes the minidump, then the
// report; otherwise the three-line notice. A crash on another thread while this goes on waits for the end of the
// process; a crash of the reporter itself ends the process at once with whatever was written.
[[noreturn]] void crashTranslator(std::uint32_t code, EXCEPTION_POINTERS* pointers);
