#include "crash/CrashReport.h"

#include "crash/CallStack.h"
#include "crash/ExceptionName.h"
#include "crash/ModuleList.h"
#include "crash/Registers.h"
#include "crash/SymbolPath.h"
#include "win/ProcessCalls.h"
#include "win/TavException.h"

const wchar_t* const kCrashBanner =
    L"================================ UNHANDLED EXCEPTION ================================";

namespace
{
void writeReport(const CDebugHelp& help, const CFault& fault)
{
    const EXCEPTION_RECORD& record = *fault.pointers->ExceptionRecord;
    const CONTEXT& context = *fault.pointers->ContextRecord;
    const CFilePath executableFolder = CFilePath(WinAPI::getModuleFileName()).parent();

    crashLine(L"MxQorSetup DEBUGGER:");
    crashLine(L"");
    crashLine(kCrashBanner);
    crashLine(exceptionLine(record.ExceptionCode, getExceptionName(record.ExceptionCode)));
    const auto address = reinterpret_cast<std::uintptr_t>(record.ExceptionAddress);
    crashLine(faultAddressLine(address, getLogicalAddress(address)));
    for (const std::wstring& line : registerLines(registersOf(context)))
    {
        crashLine(line);
    }

    // The symbol handler looks beside the executable. The process ends after the report, so the
    // directory is not changed back.
    ::SetCurrentDirectoryW(executableFolder.c_str());
    const std::wstring symbolPath = buildSymbolPath();
    crashLine(L"  Symbol path:\n\t" + symbolPath);

    const CUniqueHandle process = WinAPI::getCurrentProcess();
    writeCallStack(help, process.get(), fault.thread, symbolPath, context);
    writeModuleList();
    crashLine(kCrashBanner);
    crashLine(L"");
}

void endEarly(const std::wstring& reason)
{
    crashLine(L"  The crash report ends early: " + reason);
    crashLine(kCrashBanner);
    crashLine(L"");
}
}  // namespace

std::wstring exceptionLine(std::uint32_t code, const std::wstring& name)
{
    return L"  Exception: " + name + L" (0x" + hexText(code, 8) + L")";
}

std::wstring faultAddressLine(std::uint64_t address, const CLogicalAddress& logical, CMachine machine)
{
    std::wstring line = L"  Fault address: 0x" + addressText(address, machine);
    if (logical.found)
    {
        line += L" " + hexText(logical.section, 2) + L":" + hexText(logical.offset, 8) + L"\n\t" + logical.modulePath;
    }
    return line;
}

void writeCrashReport(const CDebugHelp& help, const CFault& fault)
{
    try
    {
        writeReport(help, fault);
    }
    catch (const std::exception& error)
    {
        endEarly(describeException(error));
    }
}

void writeDebugHelpNotice()
{
    const std::wstring indent(21, L' ');
    crashLine(L"MxQorSetup DEBUGGER: Can't write crash trace, dbghelp.dll is too old.");
    crashLine(indent + L"Install the MxQorSetup PDB files into your executable directory and repeat the failing step.");
    crashLine(indent + L"See the QOR support note \"Crash trace: dbghelp.dll missing or too old\" for the next steps.");
}
