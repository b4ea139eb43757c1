#include "crash/Registers.h"
#include "win/Platform.h"

namespace
{
std::wstring segmentText(std::uint32_t value)
{
    return hexText(value & 0xFFFFu, 4);
}
}  // namespace

CRegisterRecord registersOf(const CONTEXT& context)
{
    CRegisterRecord registers;
#if TIDEWELL_X86
    registers.ip = context.Eip;
    registers.sp = context.Esp;
    registers.fp = context.Ebp;
    registers.general = {context.Eax, context.Ebx, context.Ecx, context.Edx, context.Esi, context.Edi};
#else
    registers.ip = context.Rip;
    registers.sp = context.Rsp;
    registers.fp = context.Rbp;
    registers.general = {context.Rax, context.Rbx, context.Rcx, context.Rdx, context.Rsi, context.Rdi};
    registers.extended = {context.R8,  context.R9,  context.R10, context.R11,
                          context.R12, context.R13, context.R14, context.R15};
#endif
    registers.cs = context.SegCs;
    registers.ss = context.SegSs;
    registers.ds = context.SegDs;
    registers.es = context.SegEs;
    registers.fs = context.SegFs;
    registers.gs = context.SegGs;
    registers.flags = context.EFlags;
    return registers;
}

std::vector<std::wstring> registerLines(const CRegisterRecord& registers)
{
    const CMachine machine = registers.machine;
    const bool x86 = machine == CMachine::x86;
    const std::wstring prefix = x86 ? L"E" : L"R";

    std::vector<std::wstring> lines;
    lines.push_back(L"  Registers:");
    lines.push_back(L"\tInstruction pointer (CS:" + prefix + L"IP): " + segmentText(registers.cs) + L":" +
                    addressText(registers.ip, machine));
    lines.push_back(L"\tStack pointer       (SS:" + prefix + L"SP): " + segmentText(registers.ss) + L":" +
                    addressText(registers.sp, machine) + L"  " + prefix + L"BP:" + addressText(registers.fp, machine));

    static const wchar_t* const kGeneralNames[] = {L"AX", L"BX", L"CX", L"DX", L"SI", L"DI"};
    std::wstring general;
    for (std::size_t i = 0; i < registers.general.size(); ++i)
    {
        general +=
            (i == 0 ? L"\t" : L"\n\t") + prefix + kGeneralNames[i] + L": " + addressText(registers.general[i], machine);
    }
    if (!x86)
    {
        for (std::size_t i = 0; i < registers.extended.size(); ++i)
        {
            // "R8:  " and "R10: " keep the values in the column of "RAX: ".
            const std::wstring name = L"R" + std::to_wstring(8 + i) + L":";
            general +=
                L"\n\t" + name + std::wstring(5 - name.size(), L' ') + addressText(registers.extended[i], machine);
        }
    }
    lines.push_back(general);

    lines.push_back(L"\tDS:" + segmentText(registers.ds) + L"  ES:" + segmentText(registers.es) + L"  FS:" +
                    segmentText(registers.fs) + L"  GS:" + segmentText(registers.gs) + L"      Flags:" +
                    hexText(registers.flags, 8));
    return lines;
}
