#pragma once

#include "crash/ReportFormat.h"
#include "fs/FileVersion.h"

#include <cstdint>
#include <string>

// One module line: 3 blanks, the base and the upper end (base plus size) as addresses joined by
// " - ", a blank, the path and, when the version is known, " (" version ")".
std::wstring moduleLine(std::uint64_t base, std::uint64_t size, const std::wstring& path, CFileVersion version,
                        CMachine machine = kNativeMachine);

// The module section of the report: its two heading lines and one line for every module of the
// process, the program's own first.
void writeModuleList();
