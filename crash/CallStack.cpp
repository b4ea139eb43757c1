#include "crash/CallStack.h"

#include "crash/LogicalAddress.h"
#include "crash/MemoryRows.h"
#include "win/Platform.h"

#include <array>
#include <cwchar>
#include <vector>

#if TIDEWELL_X86
static_assert(sizeof(SYMBOL_INFOW) == 88, "the x86 symbol record has 88 bytes");
static_assert(sizeof(IMAGEHLP_LINEW64) == 24, "the x86 line record has 24 bytes");
#endif

namespace
{
constexpr std::size_t kParameterFrames = 8;
constexpr std::size_t kMaxFrames = 1000;
constexpr ULONG kMaxNameLength = 512;
constexpr DWORD kSymbolOptions = SYMOPT_UNDNAME | SYMOPT_DEFERRED_LOADS | SYMOPT_LOAD_LINES;
static_assert(kSymbolOptions == 0x16);

struct CFrame
{
    std::uint64_t pc = 0;
    std::uint64_t frame = 0;
    std::uint64_t stack = 0;
    std::array<std::uint64_t, 4> params{};
};

#if TIDEWELL_X86
constexpr DWORD kImageMachine = IMAGE_FILE_MACHINE_I386;

STACKFRAME64 firstFrame(const CONTEXT& context)
{
    STACKFRAME64 frame{};
    frame.AddrPC.Offset = context.Eip;
    frame.AddrFrame.Offset = context.Ebp;
    frame.AddrStack.Offset = context.Esp;
    frame.AddrPC.Mode = frame.AddrFrame.Mode = frame.AddrStack.Mode = AddrModeFlat;
    return frame;
}

bool isEndOfStack(const STACKFRAME64& frame)
{
    return frame.AddrFrame.Offset == 0;
}
#else
constexpr DWORD kImageMachine = IMAGE_FILE_MACHINE_AMD64;

STACKFRAME64 firstFrame(const CONTEXT& context)
{
    STACKFRAME64 frame{};
    frame.AddrPC.Offset = context.Rip;
    frame.AddrFrame.Offset = context.Rsp;
    frame.AddrStack.Offset = context.Rsp;
    frame.AddrPC.Mode = frame.AddrFrame.Mode = frame.AddrStack.Mode = AddrModeFlat;
    return frame;
}

bool isEndOfStack(const STACKFRAME64& frame)
{
    return frame.AddrPC.Offset == 0;
}

// The register home area of each frame lies at its caller's stack pointer.
void readHomeAreas(std::vector<CFrame>& frames)
{
    for (std::size_t i = 0; i + 1 < frames.size() && i < kParameterFrames; ++i)
    {
        std::array<std::uint64_t, 4> words{};
        SIZE_T count = 0;
        if (::ReadProcessMemory(::GetCurrentProcess(), reinterpret_cast<const void*>(frames[i + 1].stack), words.data(),
                                sizeof words, &count) &&
            count == sizeof words)
        {
            frames[i].params = words;
        }
    }
}
#endif

// A call through a bad pointer faults at an address without code. Nothing has run there: the
// return address is on top of the stack, while the frame pointer still belongs to the caller (so
// the x86 walker, following the chain of frame pointers, would skip the caller). Unwinds that
// frame by hand and returns it, with the four stack words above the return address as its
// parameters; false, leaving the context as it was, when the top of the stack is not a return
// address into a module.
bool unwindCallIntoNowhere(const CDebugHelp& help, HANDLE process, CONTEXT& context, CFrame& nowhere)
{
#if TIDEWELL_X86
    auto& ip = context.Eip;
    auto& sp = context.Esp;
    nowhere.frame = context.Ebp;
#else
    auto& ip = context.Rip;
    auto& sp = context.Rsp;
    nowhere.frame = context.Rbp;
#endif
    nowhere.pc = ip;
    nowhere.stack = sp;
    std::uintptr_t returnAddress = 0;
    SIZE_T count = 0;
    if (!::ReadProcessMemory(::GetCurrentProcess(), reinterpret_cast<const void*>(static_cast<std::uintptr_t>(sp)),
                             &returnAddress, sizeof returnAddress, &count) ||
        count != sizeof returnAddress || help.symGetModuleBase64(process, returnAddress) == 0)
    {
        return false;
    }
    ip = returnAddress;
    sp += sizeof returnAddress;
#if TIDEWELL_X86
    std::array<std::uintptr_t, 4> words{};
    if (::ReadProcessMemory(::GetCurrentProcess(), reinterpret_cast<const void*>(static_cast<std::uintptr_t>(sp)),
                            words.data(), sizeof words, &count) &&
        count == sizeof words)
    {
        nowhere.params = {words[0], words[1], words[2], words[3]};
    }
#endif
    return true;
}

// When the walker cannot step on from a frame (it fails, or hands back the same frame: Wine's
// reading of the frame data in a clang-made PDB does), the x86 program's frame pointers still
// lead on: the caller's frame pointer lies at the frame's, the return address above it. Sets the
// context to the caller and says whether it did; never on x64, and never to a return address
// outside every module or to a frame that is not further up the stack.
bool unwindByFramePointer(const CDebugHelp& help, HANDLE process, const CFrame& stuck, CONTEXT& context)
{
#if TIDEWELL_X86
    std::array<std::uintptr_t, 2> words{};  // the caller's frame pointer, the return address
    SIZE_T count = 0;
    if (stuck.frame == 0 ||
        !::ReadProcessMemory(::GetCurrentProcess(),
                             reinterpret_cast<const void*>(static_cast<std::uintptr_t>(stuck.frame)), words.data(),
                             sizeof words, &count) ||
        count != sizeof words || (words[0] != 0 && words[0] <= stuck.frame) ||
        help.symGetModuleBase64(process, words[1]) == 0)
    {
        return false;
    }
    context.Ebp = words[0];
    context.Eip = words[1];
    context.Esp = static_cast<DWORD>(stuck.frame + sizeof words);
    return true;
#else
    (void)help;
    (void)process;
    (void)stuck;
    (void)context;
    return false;
#endif
}

// The frames of the stack; truncated tells whether the walk was cut at kMaxFrames.
std::vector<CFrame> walkStack(const CDebugHelp& help, HANDLE process, HANDLE thread, CONTEXT context, bool& truncated)
{
    std::vector<CFrame> frames;
    truncated = false;
    CFrame nowhere;
    if (help.symGetModuleBase64(process, firstFrame(context).AddrPC.Offset) == 0 &&
        unwindCallIntoNowhere(help, process, context, nowhere))
    {
        frames.push_back(nowhere);
    }
    STACKFRAME64 step = firstFrame(context);
    const auto next = [&] {
        return help.stackWalk64(kImageMachine, process, thread, &step, &context, nullptr, help.symFunctionTableAccess64,
                                help.symGetModuleBase64, nullptr) != FALSE;
    };
    bool stepped = next();
    while (true)
    {
        CFrame frame;
        frame.pc = step.AddrPC.Offset;
        frame.frame = step.AddrFrame.Offset;
        frame.stack = step.AddrStack.Offset;
#if TIDEWELL_X86
        frame.params = {step.Params[0], step.Params[1], step.Params[2], step.Params[3]};
#endif
        const bool stuck = !stepped || (!frames.empty() && frames.back().pc == frame.pc &&
                                        frames.back().frame == frame.frame && frames.back().stack == frame.stack);
        if (stuck && !frames.empty() && unwindByFramePointer(help, process, frames.back(), context))
        {
            step = firstFrame(context);
            stepped = next();
            continue;
        }
        if (stuck || isEndOfStack(step))
        {
            break;
        }
        if (frames.size() == kMaxFrames)
        {
            truncated = true;
            break;
        }
        frames.push_back(frame);
        stepped = next();
    }
#if !TIDEWELL_X86
    readHomeAreas(frames);
#endif
    return frames;
}

void writeSymbol(const CDebugHelp& help, HANDLE process, std::uint64_t pc)
{
    std::vector<std::uint64_t> storage((sizeof(SYMBOL_INFOW) + kMaxNameLength * sizeof(wchar_t)) / 8 + 1);
    auto* symbol = reinterpret_cast<SYMBOL_INFOW*>(storage.data());
    symbol->SizeOfStruct = sizeof(SYMBOL_INFOW);
    symbol->MaxNameLen = kMaxNameLength;
    DWORD64 displacement = 0;
    if (help.symFromAddrW(process, pc, &displacement, symbol))
    {
        const std::wstring name(symbol->Name, ::wcsnlen(symbol->Name, kMaxNameLength));
        crashLine(L"  " + name + L"+" + hexText(displacement & 0xFFFFFFFFu, 1));
        return;
    }
    const CLogicalAddress logical = getLogicalAddress(static_cast<std::uintptr_t>(pc));
    if (logical.found)
    {
        crashLine(L"   " + hexText(logical.section, 4) + L":" + hexText(logical.offset, 8) + L" " + logical.modulePath);
    }
}

void writeSourceLine(const CDebugHelp& help, HANDLE process, std::uint64_t pc)
{
    IMAGEHLP_LINEW64 line{};
    line.SizeOfStruct = sizeof line;
    DWORD displacement = 0;
    if (help.symGetLineFromAddrW64(process, pc, &displacement, &line) && line.FileName != nullptr)
    {
        crashLine(std::wstring(19, L' ') + line.FileName + L":" + std::to_wstring(static_cast<int>(line.LineNumber)));
    }
}
}  // namespace

std::wstring frameLine(std::uint64_t pc, std::uint64_t frame, const std::wstring& place, CMachine machine)
{
    return L"\t" + addressText(pc, machine) + L"  " + addressText(frame, machine) + L"      " + place;
}

std::wstring modulePlace(const CLogicalAddress& logical)
{
    return logical.found ? logical.modulePath.fileName() + L"+0x" + hexText(logical.moduleOffset, 1) : L"";
}

std::wstring paramLine(int index, std::uint64_t value, CMachine machine)
{
    return std::wstring(19, L' ') + L"Param " + std::to_wstring(index) + L":   0x" + addressText(value, machine);
}

void writeCallStack(const CDebugHelp& help, HANDLE process, HANDLE thread, const std::wstring& symbolPath,
                    const CONTEXT& context)
{
    if (!help.canWalkStack())
    {
        return;
    }
    // The options go first: invading the process loads the modules inside SymInitializeW, and
    // a module loaded without SYMOPT_LOAD_LINES has no source lines.
    help.symSetOptions(help.symGetOptions() | kSymbolOptions);
    if (!help.symInitializeW(process, symbolPath.c_str(), TRUE))
    {
        return;
    }

    crashLine(L"\n  Call stack:");
    crashLine(L"\tAddress" + std::wstring(addressDigits(kNativeMachine) - 5, L' ') + L"Frame");
    bool truncated = false;
    const std::vector<CFrame> frames = walkStack(help, process, thread, context, truncated);
    for (std::size_t index = 0; index < frames.size(); ++index)
    {
        const CFrame& frame = frames[index];
        crashLine(
            frameLine(frame.pc, frame.frame, modulePlace(getLogicalAddress(static_cast<std::uintptr_t>(frame.pc)))));
        writeSymbol(help, process, frame.pc);
        writeSourceLine(help, process, frame.pc);
        if (index < kParameterFrames)
        {
            for (int i = 0; i < 4; ++i)
            {
                crashLine(paramLine(i, frame.params[i]));
                if (frame.params[i] != 0)
                {
                    writeMemoryRows(static_cast<std::uintptr_t>(frame.params[i]));
                }
            }
        }
    }
    if (truncated)
    {
        crashLine(L"\t(the call stack goes on; the walk stops after " + std::to_wstring(kMaxFrames) + L" frames)");
    }
    help.symCleanup(process);
}
