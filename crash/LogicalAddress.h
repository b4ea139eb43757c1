#pragma once

#include "fs/FilePath.h"

#include <cstdint>

// A code address as module, section and offset: what stays the same from run to run, wherever
// the module was loaded.
struct CLogicalAddress
{
    bool found = false;
    CFilePath modulePath;
    // Counted from 1 in the order of the module's section table.
    std::uint32_t section = 0;
    std::uint32_t offset = 0;
    // The distance from the module's base (its relative virtual address): with the module's PDB
    // a symboliser turns it into function and line.
    std::uintptr_t moduleOffset = 0;
};

// Finds the module that holds the address and the first section of its table whose range
// (VirtualAddress up to VirtualAddress plus the larger of raw and virtual size, both ends
// included) contains it. Not found: no memory region, no module, or no section (the headers).
CLogicalAddress getLogicalAddress(std::uintptr_t address);
