#pragma once

#include "crash/ReportFormat.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One row of a memory display: 27 blanks, the row's address, 3 blanks, 16 bytes as two
// lower-case hexadecimal digits and a blank each, 2 blanks, the same bytes as characters (a byte
// that is a letter, digit, punctuation mark or blank stands for itself, any other as "."). Bytes
// from index valid on were not readable: "??" and ".".
std::wstring memoryRow(std::uint64_t rowAddress, const std::uint8_t* bytes, std::size_t valid,
                       CMachine machine = kNativeMachine);

// The rows for the 32 bytes at address: two rows when all can be read; when the bytes run into
// memory that is not committed or not readable, the rows that hold a readable byte; none when
// nothing can be read. Each row shows the address it was read from.
std::vector<std::wstring> memoryRows(std::uintptr_t address, CMachine machine = kNativeMachine);

// Writes memoryRows(address) into the log, one line each.
void writeMemoryRows(std::uintptr_t address);
