// A program of the tests that crashes on request, with the crash handling installed the way the
// entry installs it (the translator, then the log opened). Commands:
//   access    writes through a null pointer
//   nullcall  calls through a null function pointer
//   overflow  recurses until the stack overflows
//   divide    divides an integer by zero
//   raise     raises the structured exception 0xE0001234, which has no name of its own
//   threads   two threads write through null pointers at the same moment
//   inline    crashes in the middle of a log line, holding the log's line lock
//   insync    crashes while the log writes a line, holding the line lock and the file's sync mutex
// Every crash happens inside a catch-all handler, as in the entry: it must not see the fault.
// Returns 3 when the command does not crash, 2 for an unknown command.
#include "crash/CrashTranslator.h"
#include "log/TraceLog.h"

#include <windows.h>

#include <cwchar>

namespace
{
// What the first parameter of the crashing function points to; the report's memory rows show it.
const char kMarker[] = "TwCrash parameter marker 0123456789";

using Function = void (*)();
Function volatile g_nowhere = nullptr;
volatile int* volatile g_nullTarget = nullptr;
volatile int g_dividend = 7;
volatile int g_divisor = 0;
volatile int g_sink = 0;
volatile bool g_keepRecursing = true;
// A component tag the log reads only when it writes the line out, under the file's sync mutex.
const wchar_t* volatile g_unreadableTag = reinterpret_cast<const wchar_t*>(16);

}  // namespace

// Built without optimisation and with external linkage (a local function may be given a faster
// calling convention that passes arguments in registers), so that its parameters stay where the
// x86 report reads them: the stack words above the return address. On x64 the report shows the
// register home area, which a clang-built function does not fill.
__attribute__((noinline, optnone)) void writeThroughPointer(const char* text, volatile int* target)
{
    *target = static_cast<unsigned char>(text[0]);
}

namespace
{

__attribute__((noinline)) void callThroughPointer()
{
    g_nowhere();
    // Work after the call keeps it a call (not a jump), so this frame stays on the stack.
    g_sink = g_sink + 1;
}

__attribute__((noinline)) int recurseForever(int depth)
{
    // Below one page, so the frame needs no stack probe and the overflow faults right here.
    volatile char block[3000];
    block[0] = static_cast<char>(depth);
    if (g_keepRecursing)
    {
        return recurseForever(depth + 1) + block[0];
    }
    return block[0];
}

__attribute__((noinline)) void divideNumbers()
{
    // Volatile operands: the division cannot be folded away and really executes idiv.
    g_sink = g_dividend / g_divisor;
}

__attribute__((noinline)) void raiseUnknownException()
{
    ::RaiseException(0xE0001234, 0, 0, nullptr);
    g_sink = g_sink + 1;
}

DWORD WINAPI crashTogether(void* start)
{
    ::WaitForSingleObject(static_cast<HANDLE>(start), INFINITE);
    writeThroughPointer(kMarker, g_nullTarget);
    return 0;
}

void crashOnTwoThreads()
{
    HANDLE start = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE threads[] = {::CreateThread(nullptr, 0, crashTogether, start, 0, nullptr),
                        ::CreateThread(nullptr, 0, crashTogether, start, 0, nullptr)};
    ::SetEvent(start);
    ::WaitForMultipleObjects(2, threads, TRUE, 30000);
}

int crash(const wchar_t* command)
{
    if (std::wcscmp(command, L"access") == 0)
    {
        writeThroughPointer(kMarker, g_nullTarget);
    }
    else if (std::wcscmp(command, L"nullcall") == 0)
    {
        callThroughPointer();
    }
    else if (std::wcscmp(command, L"overflow") == 0)
    {
        g_sink = recurseForever(0);
    }
    else if (std::wcscmp(command, L"divide") == 0)
    {
        divideNumbers();
    }
    else if (std::wcscmp(command, L"raise") == 0)
    {
        raiseUnknownException();
    }
    else if (std::wcscmp(command, L"threads") == 0)
    {
        crashOnTwoThreads();
    }
    else if (std::wcscmp(command, L"inline") == 0)
    {
        CTraceLog::beginLine(::GetCurrentThreadId(), L"TwCrash", kSeverityInfo);
        writeThroughPointer(kMarker, g_nullTarget);
    }
    else if (std::wcscmp(command, L"insync") == 0)
    {
        CTraceLog::beginLine(::GetCurrentThreadId(), g_unreadableTag, kSeverityInfo);
        CTraceLog::commitLine(std::wstring(L"never written"));
    }
    else
    {
        return 2;
    }
    return 3;
}
}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
    {
        return 2;
    }
    installCrashTranslator();
    try
    {
        CTraceLog::open(::GetCurrentThreadId());
    }
    catch (...)
    {
    }
    try
    {
        return crash(argv[1]);
    }
    catch (...)
    {
        return 4;
    }
}
