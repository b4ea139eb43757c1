#include "crash/CrashTranslator.h"

#include "crash/CrashGate.h"
#include "crash/CrashReport.h"
#include "crash/DebugHelp.h"
#include "crash/Fault.h"
#include "crash/Minidump.h"
#include "crash/ReportFormat.h"
#include "log/TraceLog.h"
#include "win/CrashHalt.h"
#include "win/TavException.h"
#include "win/Thread.h"
#include "win/UniqueHolder.h"

#include <atomic>

namespace
{
constexpr DWORD kReportTimeoutMs = 60000;
// Stack kept back for the handler when the thread's stack overflows.
constexpr ULONG kStackGuarantee = 32 * 1024;
// The codes with which GCC's unwinder raises C++ exceptions on x64; never a crash.
constexpr DWORD kGccThrow = 0x20474343;
constexpr DWORD kGccUnwind = 0x21474343;
constexpr DWORD kGccForcedUnwind = 0x22474343;

CCrashGate g_gate;
std::atomic<bool> g_installed{false};
std::atomic<bool> g_reporterCrashLogged{false};
LPTOP_LEVEL_EXCEPTION_FILTER g_previousFilter = nullptr;

[[noreturn]] void endProcess()
{
    ::TerminateProcess(::GetCurrentProcess(), 1);
    ::ExitProcess(1);
}

// Keeps kStackGuarantee bytes of the calling thread's stack back for the handler of a stack
// overflow. SetThreadStackGuarantee asks the system for them. Wine, however, commits a thread's
// whole stack and keeps its only guard page at the very bottom, so an overflow is noticed on the
// last page, with too little stack left to dispatch the exception: the thread is killed silently.
// It moves a guard page that is hit further down, though, and reports the overflow once the
// guard reaches the guaranteed part; so a guard page is set just above that part. Where the stack
// there is not committed yet (Windows, whose stacks grow page by page), nothing is changed.
void keepStackForOverflow()
{
    ULONG guarantee = kStackGuarantee;
    ::SetThreadStackGuarantee(&guarantee);

    MEMORY_BASIC_INFORMATION stack{};
    if (::VirtualQuery(&stack, &stack, sizeof stack) == 0 || stack.AllocationBase == nullptr)
    {
        return;
    }
    SYSTEM_INFO system{};
    ::GetSystemInfo(&system);
    const std::size_t page = system.dwPageSize;
    // The bottom page, the guaranteed part, then the new guard page.
    auto* const guard = static_cast<std::uint8_t*>(stack.AllocationBase) + page + kStackGuarantee;
    MEMORY_BASIC_INFORMATION region{};
    if (::VirtualQuery(guard, &region, sizeof region) == 0 || region.State != MEM_COMMIT ||
        (region.Protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0 ||
        guard + 2 * page > reinterpret_cast<std::uint8_t*>(&stack))
    {
        return;
    }
    DWORD previous = 0;
    ::VirtualProtect(guard, page, PAGE_READWRITE | PAGE_GUARD, &previous);
}

void handleCrash(const CFault& fault)
{
    try
    {
        CTraceLog::openForCrashReport(::GetCurrentThreadId());
    }
    catch (const CTavException&)
    {
        // No log file anywhere: the minidump is written all the same.
    }
    const COptionalLibrary library = loadDebugHelp();
    if (!library.passedOver.empty())
    {
        crashLine(library.passedOverText(), kSeverityWarning);
    }
    const CDebugHelp help = bindDebugHelp(library.library);
    if (!isDebugHelpUsable(help))
    {
        writeDebugHelpNotice();
        return;
    }
    try
    {
        writeMinidump(help, fault);
    }
    catch (const CTavException& error)
    {
        crashLine(L"Failed creating minidump: " + error.fullText());
    }
    writeCrashReport(help, fault);
}

DWORD WINAPI reportThread(void* parameter)
{
    try
    {
        handleCrash(*static_cast<const CFault*>(parameter));
    }
    catch (...)
    {
        // Out of memory while reporting: the process ends with exit code 1 all the same.
    }
    return 0;
}

LONG WINAPI unhandledExceptionFilter(EXCEPTION_POINTERS* pointers)
{
    const DWORD code = pointers->ExceptionRecord->ExceptionCode;
    if (code == kGccThrow || code == kGccUnwind || code == kGccForcedUnwind)
    {
        return g_previousFilter != nullptr ? g_previousFilter(pointers) : EXCEPTION_CONTINUE_SEARCH;
    }
    crashTranslator(code, pointers);
}

LONG WINAPI stackOverflowHandler(EXCEPTION_POINTERS* pointers)
{
    const DWORD code = pointers->ExceptionRecord->ExceptionCode;
    if (code == STATUS_STACK_OVERFLOW)
    {
        crashTranslator(code, pointers);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}
}  // namespace

void installCrashTranslator()
{
    if (g_installed.exchange(true))
    {
        return;
    }
    // A thread halted by a crash elsewhere gives up the log's locks: the report needs them.
    CCrashHalt::setReleaseHook(&CTraceLog::releaseLocksOfThisThread);
    g_previousFilter = ::SetUnhandledExceptionFilter(unhandledExceptionFilter);
    ::AddVectoredExceptionHandler(1, stackOverflowHandler);
    keepStackForOverflow();
    // The filter and the handler serve every thread; the stack reserve is each thread's own.
    CThread::setStartHook(keepStackForOverflow);
}

void crashTranslator(std::uint32_t code, EXCEPTION_POINTERS* pointers)
{
    const DWORD self = ::GetCurrentThreadId();
    switch (g_gate.enter(self))
    {
    case CCrashEntry::first:
        // Every other thread of the program stops at its next step: no more deletions, no log
        // line inside the report, no normal end of the process while the report is written.
        CCrashHalt::begin(self);
        break;
    case CCrashEntry::again:
        endProcess();
    case CCrashEntry::reporter:
        if (!g_reporterCrashLogged.exchange(true))
        {
            crashLine(L"  The crash report ends early: exception 0x" + hexText(code, 8) + L" while writing it.");
        }
        endProcess();
    case CCrashEntry::other:
        // The reporter may need the log's locks this thread holds.
        CTraceLog::releaseLocksOfThisThread();
        for (;;)
        {
            ::Sleep(INFINITE);
        }
    }

    // Little more than system calls from here on: this may run on what is left of an overflowed
    // stack. A fault inside a line or a header leaves the log's locks with this thread; the
    // reporter and the other writers of the log file need them.
    CTraceLog::releaseLocksOfThisThread();
    CFault fault;
    fault.pointers = pointers;
    fault.threadId = self;
    HANDLE thread = nullptr;
    ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &thread, 0, FALSE,
                      DUPLICATE_SAME_ACCESS);
    const CUniqueHandle faultingThread(thread);
    fault.thread = thread;

    // Suspended until the gate knows it: a crash of the reporter must be seen as one.
    DWORD reporterId = 0;
    const CUniqueHandle reporter(::CreateThread(nullptr, 0, reportThread, &fault, CREATE_SUSPENDED, &reporterId));
    if (reporter.isValid())
    {
        g_gate.setReporter(reporterId);
        CCrashHalt::exempt(reporterId);
        ::ResumeThread(reporter.get());
        ::WaitForSingleObject(reporter.get(), kReportTimeoutMs);
    }
    else
    {
        // No thread to be had: report here, on what stack is left.
        reportThread(&fault);
    }
    endProcess();
}
