#pragma once

#include "crash/ReportFormat.h"

#include <windows.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The registers a crash report shows, as plain values. Filled from the processor context of the
// faulting thread, or by hand (tests format an x86 record on any build).
struct CRegisterRecord
{
    CMachine machine = kNativeMachine;
    // EIP, ESP, EBP on x86; RIP, RSP, RBP on x64.
    std::uint64_t ip = 0;
    std::uint64_t sp = 0;
    std::uint64_t fp = 0;
    // EAX, EBX, ECX, EDX, ESI, EDI (or their 64-bit forms), in this order.
    std::array<std::uint64_t, 6> general{};
    // R8 to R15; x64 only.
    std::array<std::uint64_t, 8> extended{};
    std::uint32_t cs = 0;
    std::uint32_t ss = 0;
    std::uint32_t ds = 0;
    std::uint32_t es = 0;
    std::uint32_t fs = 0;
    std::uint32_t gs = 0;
    std::uint32_t flags = 0;
};

// The registers of this build's processor context.
CRegisterRecord registersOf(const CONTEXT& context);

// The register part of the report: "  Registers:" and the lines after it, one text per log line
// (texts holding "\n" become continuation lines).
std::vector<std::wstring> registerLines(const CRegisterRecord& registers);
