#include "support/LogReading.h"

#include "support/TempFiles.h"
#include "win/SystemCalls.h"

#include <algorithm>
#include <fstream>

namespace test
{
bool isLogLine(const std::wstring& line)
{
    return line.size() >= 25 && line[2] == L':' && line[5] == L':' && line[8] == L' ';
}

CFilePath defaultLogPath(const std::wstring& name)
{
    // Program Files as the program sees it: a 32-bit program on 64-bit Windows gets the x86 folder.
    BOOL wow64 = FALSE;
    const bool x86OnX64 = ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
    const CFilePath folder(WinAPI::expandEnvironmentStrings(x86OnX64 ? L"%ProgramFiles(x86)%" : L"%ProgramFiles%"));
    return CFilePath::combine(folder, L"QOR\\QorSetup\\LOGs\\" + name + L".log");
}

std::vector<std::wstring> readLogLines(const std::wstring& path)
{
    const std::string bytes = readBytes(path);
    std::wstring text(bytes.size() / 2, L'\0');
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        text[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                       (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    }
    if (!text.empty() && text[0] == 0xFEFF)
    {
        text.erase(0, 1);
    }
    std::vector<std::wstring> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2)
    {
        lines.push_back(text.substr(start, end - start));
    }
    if (start < text.size())
    {
        lines.push_back(text.substr(start));
    }
    return lines;
}

std::wstring lineText(const std::wstring& line)
{
    return line.size() > 25 ? line.substr(25) : std::wstring();
}

wchar_t lineSeverity(const std::wstring& line)
{
    return line.size() > 22 ? line[22] : L'?';
}

std::vector<std::wstring> CRunResult::eventLines() const
{
    std::vector<std::wstring> result;
    for (const std::wstring& line : lines)
    {
        if (isLogLine(line) || line.compare(0, 25, std::wstring(25, L' ')) == 0)
        {
            result.push_back(line);
        }
    }
    return result;
}

std::vector<std::wstring> CRunResult::texts() const
{
    std::vector<std::wstring> result;
    for (const std::wstring& line : eventLines())
    {
        result.push_back(lineText(line));
    }
    return result;
}

std::vector<std::wstring> logTexts(const std::wstring& path)
{
    CRunResult log;
    log.lines = readLogLines(path);
    return log.texts();
}

std::size_t headerRulers(const std::vector<std::wstring>& lines)
{
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), std::wstring(80, L'*')));
}

std::size_t indexOfStart(const std::vector<std::wstring>& texts, const std::wstring& start)
{
    return static_cast<std::size_t>(
        std::find_if(texts.begin(), texts.end(), [&](const std::wstring& text) { return text.starts_with(start); }) -
        texts.begin());
}

std::size_t indexOf(const std::vector<std::wstring>& texts, const std::wstring& wanted)
{
    return static_cast<std::size_t>(std::find(texts.begin(), texts.end(), wanted) - texts.begin());
}
}  // namespace test
