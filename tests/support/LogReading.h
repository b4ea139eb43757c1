#pragma once

#include "fs/FilePath.h"

#include <cstdint>
#include <string>
#include <vector>

namespace test
{
// Where the log of an executable named <name>.exe goes with the default settings (for a 32-bit
// program on 64-bit Windows below "Program Files (x86)").
CFilePath defaultLogPath(const std::wstring& name);

// The lines of a UTF-16 log file (byte-order mark dropped, split at CR LF).
std::vector<std::wstring> readLogLines(const std::wstring& path);
// True for a line in the line format ("hh:mm:ss ...").
bool isLogLine(const std::wstring& line);
// The text of a log line after its 25 columns of time, tag, level and severity.
std::wstring lineText(const std::wstring& line);
// The severity column of a log line.
wchar_t lineSeverity(const std::wstring& line);

// A log read back by a test: the lines after the header (the byte-order mark dropped).
struct CRunResult
{
    std::uint32_t exitCode = 0;
    std::vector<std::wstring> lines;
    // The lines in the line format (time, tag, level, severity, text) and their continuation
    // lines; the header block left out.
    std::vector<std::wstring> eventLines() const;
    // The texts of those lines (after the 25 prefix columns).
    std::vector<std::wstring> texts() const;
};

// The texts of the log file at path (the header block left out).
std::vector<std::wstring> logTexts(const std::wstring& path);
// The rulers of 80 '*' among lines: two for each header block.
std::size_t headerRulers(const std::vector<std::wstring>& lines);

// The position of the first text equal to wanted; texts.size() when there is none.
std::size_t indexOf(const std::vector<std::wstring>& texts, const std::wstring& wanted);
// The position of the first text that starts with start; texts.size() when there is none.
std::size_t indexOfStart(const std::vector<std::wstring>& texts, const std::wstring& start);
}  // namespace test
