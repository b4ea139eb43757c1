// The texts of the crash report, formatted from values filled in by hand: the x86 report of the
// product is checked on any build.
#include "crash/CallStack.h"
#include "crash/CrashReport.h"
#include "crash/ExceptionName.h"
#include "crash/MemoryRows.h"
#include "crash/ModuleList.h"
#include "crash/Registers.h"

#include <gtest/gtest.h>

namespace
{
CRegisterRecord x86Record()
{
    CRegisterRecord registers;
    registers.machine = CMachine::x86;
    registers.ip = 0x00401A2B;
    registers.sp = 0x0019FF10;
    registers.fp = 0x0019FF40;
    registers.general = {0x1, 0xFFFFFFFF, 0xABCDEF, 0x0, 0x7FFE0000, 0x12345678};
    registers.cs = 0x23;
    registers.ss = 0x2B;
    registers.ds = 0x2B;
    registers.es = 0x2B;
    registers.fs = 0x53;
    registers.gs = 0x2B;
    registers.flags = 0x10246;
    return registers;
}
}  // namespace

TEST(CrashReportText, X86RegistersInTheirEightDigitColumns)
{
    const std::vector<std::wstring> expected = {
        L"  Registers:",
        L"\tInstruction pointer (CS:EIP): 0023:00401A2B",
        L"\tStack pointer       (SS:ESP): 002B:0019FF10  EBP:0019FF40",
        L"\tEAX: 00000001\n\tEBX: FFFFFFFF\n\tECX: 00ABCDEF\n\tEDX: 00000000\n\tESI: 7FFE0000\n\tEDI: 12345678",
        L"\tDS:002B  ES:002B  FS:0053  GS:002B      Flags:00010246",
    };
    EXPECT_EQ(registerLines(x86Record()), expected);
}

TEST(CrashReportText, X64RegistersWithSixteenDigitsAndR8ToR15)
{
    CRegisterRecord registers = x86Record();
    registers.machine = CMachine::x64;
    registers.ip = 0x00007FF712345678;
    registers.general[0] = 0xFEDCBA9876543210;
    registers.extended = {8, 9, 10, 11, 12, 13, 14, 0xF000000000000015};
    const std::vector<std::wstring> lines = registerLines(registers);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[1], L"\tInstruction pointer (CS:RIP): 0023:00007FF712345678");
    EXPECT_EQ(lines[2], L"\tStack pointer       (SS:RSP): 002B:000000000019FF10  RBP:000000000019FF40");
    EXPECT_EQ(lines[3],
              L"\tRAX: FEDCBA9876543210\n\tRBX: 00000000FFFFFFFF\n\tRCX: 0000000000ABCDEF\n"
              L"\tRDX: 0000000000000000\n\tRSI: 000000007FFE0000\n\tRDI: 0000000012345678\n"
              L"\tR8:  0000000000000008\n\tR9:  0000000000000009\n\tR10: 000000000000000A\n"
              L"\tR11: 000000000000000B\n\tR12: 000000000000000C\n\tR13: 000000000000000D\n"
              L"\tR14: 000000000000000E\n\tR15: F000000000000015");
    EXPECT_EQ(lines[4], L"\tDS:002B  ES:002B  FS:0053  GS:002B      Flags:00010246");
}

TEST(CrashReportText, HeadLinesInTheirLongAndShortForms)
{
    EXPECT_EQ(exceptionLine(0xC0000005, L"ACCESS_VIOLATION"), L"  Exception: ACCESS_VIOLATION (0xC0000005)");
    EXPECT_EQ(exceptionLine(0xE0001234, L""), L"  Exception:  (0xE0001234)");

    CLogicalAddress logical;
    logical.found = true;
    logical.modulePath = L"C:\\Program Files\\100%\\Tidewell.exe";
    logical.section = 1;
    logical.offset = 0xA2B;
    EXPECT_EQ(faultAddressLine(0x00401A2B, logical, CMachine::x86),
              L"  Fault address: 0x00401A2B 01:00000A2B\n\tC:\\Program Files\\100%\\Tidewell.exe");
    EXPECT_EQ(faultAddressLine(0, CLogicalAddress(), CMachine::x86), L"  Fault address: 0x00000000");
    EXPECT_EQ(faultAddressLine(0, CLogicalAddress(), CMachine::x64), L"  Fault address: 0x0000000000000000");
}

TEST(CrashReportText, FrameAndParameterLines)
{
    EXPECT_EQ(frameLine(0x00401A2B, 0x0019FF40, L"", CMachine::x86), L"\t00401A2B  0019FF40      ");
    EXPECT_EQ(frameLine(0x140001A2B, 0x21FCE0, L"Tidewell.exe+0x1A2B", CMachine::x64),
              L"\t0000000140001A2B  000000000021FCE0      Tidewell.exe+0x1A2B");
    CLogicalAddress logical;
    EXPECT_EQ(modulePlace(logical), L"");
    logical.found = true;
    logical.modulePath = CFilePath(L"C:\\Program Files\\100%\\Tidewell.exe");
    logical.moduleOffset = 0x1A2B;
    EXPECT_EQ(modulePlace(logical), L"Tidewell.exe+0x1A2B");
    EXPECT_EQ(paramLine(2, 0, CMachine::x86), L"                   Param 2:   0x00000000");
    EXPECT_EQ(paramLine(0, 0xDEADBEEF, CMachine::x86), L"                   Param 0:   0xDEADBEEF");
}

TEST(CrashReportText, ModuleLinesWithAndWithoutVersion)
{
    CFileVersion version;
    version.major = 1;
    version.minor = 2;
    version.build = 3;
    version.revision = 4;
    EXPECT_EQ(moduleLine(0x00400000, 0x12000, L"C:\\a%s\\Tidewell.exe", version, CMachine::x86),
              L"   00400000 - 00412000 C:\\a%s\\Tidewell.exe (1.2.3.4)");
    EXPECT_EQ(moduleLine(0x77000000, 0x1000, L"C:\\x.dll", CFileVersion(), CMachine::x86),
              L"   77000000 - 77001000 C:\\x.dll");
    EXPECT_EQ(moduleLine(0x7FF800000000, 0x1000, L"C:\\x.dll", CFileVersion(), CMachine::x64),
              L"   00007FF800000000 - 00007FF800001000 C:\\x.dll");
}

TEST(CrashReportText, MemoryRowShowsBytesAndCharacters)
{
    const std::uint8_t bytes[16] = {'A',  0x00, 0x07, '%', ' ',  'z',  '9',  0x7F,
                                    0x1F, '.',  '-',  'q', 0x0A, 0x0D, 0x80, 'Z'};
    EXPECT_EQ(
        memoryRow(0x0019FF40, bytes, 16, CMachine::x86),
        std::wstring(27, L' ') + L"0019FF40   41 00 07 25 20 7a 39 7f 1f 2e 2d 71 0a 0d 80 5a   A..% z9...-q...Z");
    // Bytes past the readable part are marked, not shown as zeros.
    EXPECT_EQ(
        memoryRow(0x1000, bytes, 3, CMachine::x86),
        std::wstring(27, L' ') + L"00001000   41 00 07 ?? ?? ?? ?? ?? ?? ?? ?? ?? ?? ?? ?? ??   A...............");
}

TEST(ExceptionName, NamesOfTheTableAndMessageTexts)
{
    EXPECT_EQ(getExceptionName(0xC0000005), L"ACCESS_VIOLATION");
    EXPECT_EQ(getExceptionName(0xC00000FD), L"STACK_OVERFLOW");
    EXPECT_EQ(getExceptionName(0xC0000094), L"INT_DIVIDE_BY_ZERO");
    EXPECT_EQ(getExceptionName(0x80000001), L"GUARD_PAGE");
    EXPECT_EQ(getExceptionName(0xE0001234), L"");

    // A lookup without text after one with text yields nothing, not the earlier text.
    const HMODULE withMessages = ::GetModuleHandleW(L"kernelbase.dll");
    ASSERT_NE(withMessages, nullptr);
    const std::wstring fileNotFound = getMessageText(withMessages, ERROR_FILE_NOT_FOUND);
    ASSERT_FALSE(fileNotFound.empty()) << "the system library has no message for ERROR_FILE_NOT_FOUND";
    EXPECT_EQ(getMessageText(withMessages, 0xE0001234), L"");
}
