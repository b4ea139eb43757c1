#pragma once

#include <cstdint>

// Once a crash has begun on any thread, the program's own work stops where it stands: nothing
// more is deleted, moved or logged, and the process does not end by itself, so that the crash
// report and the minidump are written whole and the exit code is the crash's.
//
// The crash handling begins the halt on the faulting thread before anything else and names the
// thread that writes the report. Every other thread that reaches a halt point from then on waits
// there for the end of the process, which the crash handling brings about. The halt points are
// the Windows calls that change an entry on disk (delete, move, rename, attributes, deletion at
// restart), each log line and lock of the log, and the program's normal end. A thread that holds
// the log's locks gives them up first (through the release hook), since the report needs them.
//
// A call already past its halt point when the crash begins still completes; work that a thread
// never brings to a halt point (a wait, a sleep) is simply never resumed.
class CCrashHalt
{
public:
    // Begins the halt; the calling (faulting) thread goes on. Lock-free, no allocation: safe on a
    // thread that has run out of stack or holds the heap lock. Only the first call counts.
    static void begin(std::uint32_t crasher);
    // The thread that writes the report goes on as well.
    static void exempt(std::uint32_t reporter);
    // True once a crash has begun.
    static bool isHalted();
    // A halt point: returns at once while no crash has begun or on the crash's own threads;
    // otherwise runs the release hook and waits for the end of the process.
    static void point();
    // Runs at a halt point before the thread waits for good: gives up what the crash report
    // needs (the log's locks). Set once, before any thread may crash.
    static void setReleaseHook(void (*hook)());
};
