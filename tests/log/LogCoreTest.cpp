// The log of this test program itself: lines written here are read back from its file.
#include "log/LogLine.h"
#include "log/TraceLog.h"

#include "win/ProcessCalls.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <thread>

namespace
{
const CFilePath& openedLog()
{
    static const CFilePath path = [] {
        CTraceLog::open(::GetCurrentThreadId());
        return test::defaultLogPath(CFilePath(WinAPI::getModuleFileName()).fileName().withoutExtension());
    }();
    return path;
}

// The lines the log receives from its construction on. A distinct first line ends any run of
// repeats left by an earlier test.
class CLogTail
{
public:
    CLogTail()
    {
        CLogLine(L"Test", kSeverityInfo) << L"start " << test::uniqueName(L"mark");
        m_skip = test::readLogLines(openedLog()).size();
    }
    std::vector<std::wstring> lines() const
    {
        std::vector<std::wstring> all = test::readLogLines(openedLog());
        return std::vector<std::wstring>(all.begin() + static_cast<std::ptrdiff_t>(m_skip), all.end());
    }
    std::vector<std::wstring> texts() const
    {
        std::vector<std::wstring> result;
        for (const std::wstring& line : lines())
        {
            result.push_back(test::lineText(line));
        }
        return result;
    }

private:
    std::size_t m_skip = 0;
};

void write(const wchar_t* text, wchar_t severity = kSeverityInfo, const wchar_t* tag = L"Test")
{
    CLogLine(tag, severity) << text;
}

std::wstring notice(int count)
{
    return L"  -- last line is repeated " + std::to_wstring(count) + L" times --";
}
}  // namespace

TEST(LineFormat, PrefixColumns)
{
    SYSTEMTIME time{};
    time.wHour = 0;
    time.wMinute = 5;
    time.wSecond = 3;
    EXPECT_EQ(formatLinePrefix(time, L"QorS_Del", 1, L' '), L"00:05:03   QorS_Del  1   ");
    EXPECT_EQ(formatLinePrefix(time, L"MxQorTavLgExtra", 1, L'E'), L"00:05:03 MxQorTavLg  1E  ");
    EXPECT_EQ(formatLinePrefix(time, L"", 3, L'W').size(), 25u);
}

TEST(LineFormat, LineFeedsMakeContinuationLines)
{
    openedLog();
    CLogTail tail;
    write(L"");
    write(L"two\nwords");
    write(L"word\n");
    write(L"cr\r\nlf");
    const std::wstring blanks(25, L' ');
    const std::vector<std::wstring> lines = tail.lines();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0].size(), 25u);
    EXPECT_EQ(test::lineText(lines[1]), L"two");
    EXPECT_EQ(lines[2], blanks + L"words");
    EXPECT_EQ(test::lineText(lines[3]), L"word");
    EXPECT_EQ(lines[4], blanks);
    EXPECT_EQ(test::lineText(lines[5]), L"cr\r");
    EXPECT_EQ(lines[6], blanks + L"lf");
}

TEST(LineFormat, FormattedLinesOfAnyLength)
{
    openedLog();
    CLogTail tail;
    CTraceLog::beginLine(::GetCurrentThreadId(), L"Test", kSeverityError);
    CTraceLog::commitFormat(L"%s (0x%08X) %i", L"ACCESS_VIOLATION", 0xC0000005u, -1);
    const std::wstring fits(255, L'a');
    const std::wstring longer(5000, L'b');
    CTraceLog::beginLine(::GetCurrentThreadId(), L"Test", kSeverityError);
    CTraceLog::commitFormat(L"%s", fits.c_str());
    CTraceLog::beginLine(::GetCurrentThreadId(), L"Test", kSeverityError);
    CTraceLog::commitFormat(L"%s!", longer.c_str());
    EXPECT_EQ(tail.texts(), (std::vector<std::wstring>{L"ACCESS_VIOLATION (0xC0000005) -1", fits, longer + L"!"}));
    EXPECT_EQ(test::lineSeverity(tail.lines()[0]), L'E');
}

TEST(RepeatedLines, ThreeTimesGiveANotice)
{
    openedLog();
    CLogTail tail;
    write(L"A");
    write(L"A");
    write(L"A");
    write(L"B");
    const std::vector<std::wstring> lines = tail.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(test::lineText(lines[0]), L"A");
    EXPECT_EQ(lines[1], std::wstring(25, L' ') + notice(2));
    EXPECT_EQ(test::lineText(lines[2]), L"B");
}

TEST(RepeatedLines, TwiceGivesTheLineAgainWithTheNextTag)
{
    openedLog();
    CLogTail tail;
    write(L"A", kSeverityWarning, L"First");
    write(L"A", kSeverityWarning, L"First");
    write(L"B", kSeverityInfo, L"Second");
    const std::vector<std::wstring> lines = tail.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].substr(9), L"    Second  1W  A");
    EXPECT_EQ(lines[2].substr(9), L"    Second  1   B");
}

TEST(RepeatedLines, SeverityCountsAndTheTagDoesNot)
{
    openedLog();
    CLogTail tail;
    write(L"A", kSeverityInfo, L"One");
    write(L"A", kSeverityError, L"One");
    write(L"A", kSeverityError, L"Two");
    write(L"A", kSeverityError, L"Two");
    write(L"C");
    EXPECT_EQ(tail.texts(), (std::vector<std::wstring>{L"A", L"A", notice(2), L"C"}));
}

TEST(RepeatedLines, RepeatsAtTheEndOfAProcessAreNotWritten)
{
    test::CTempDir dir;
    const std::wstring name = test::uniqueName(L"writer");
    const CFilePath exe = test::copyProgram(test::logWriterExe(), dir.path(), name);
    EXPECT_EQ(test::runProgram(exe, L"2 - - A repeat"), 0u);
    EXPECT_EQ(test::logTexts(test::defaultLogPath(name)), std::vector<std::wstring>{L"A"});
    ::DeleteFileW(test::defaultLogPath(name).c_str());
}

TEST(RepeatedLines, NoNoticeFollowsAnotherWritersLine)
{
    openedLog();
    // A second process writing to this program's log: the log writer under this program's name.
    test::CTempDir dir;
    const CFilePath other = test::copyProgram(test::logWriterExe(), dir.path(),
                                              CFilePath(WinAPI::getModuleFileName()).fileName().withoutExtension());
    CLogTail tail;
    write(L"A");
    write(L"A");
    write(L"A");
    ASSERT_EQ(test::runProgram(other, L"1 - - B repeat"), 0u);
    write(L"C");
    EXPECT_EQ(tail.texts(), (std::vector<std::wstring>{L"A", L"B", L"A", L"A", L"C"}));
}

TEST(LogTargets, ThreadWithoutItsOwnTargetWritesToTheFirst)
{
    openedLog();
    CLogTail tail;
    std::thread([] { write(L"from another thread"); }).join();
    EXPECT_EQ(tail.texts(), std::vector<std::wstring>{L"from another thread"});
}

TEST(LogTargets, SecondOpenFromTheSameThreadKeepsTheFile)
{
    openedLog();
    CLogTail tail;
    CTraceLog::open(::GetCurrentThreadId());
    write(L"still here");
    EXPECT_EQ(tail.texts(), std::vector<std::wstring>{L"still here"});
}

TEST(LogTargets, UnfinishedLineLeavesTheLockWithoutWriting)
{
    openedLog();
    CLogTail tail;
    try
    {
        CLogLine line(L"Test", kSeverityInfo);
        line << L"half";
        throw std::runtime_error("while composing");
    }
    catch (const std::runtime_error&)
    {
    }
    std::thread([] { write(L"other thread is not blocked"); }).join();
    EXPECT_EQ(tail.texts(), std::vector<std::wstring>{L"other thread is not blocked"});
}

TEST(LogTargets, LineBegunWhileAnotherIsComposedKeepsEachLineItsOwnAndLeavesTheLockFully)
{
    openedLog();
    CLogTail tail;
    {
        CLogLine outer(L"Outer", kSeverityError);
        outer << L"outer";
        write(L"inner");
    }
    std::thread([] { write(L"other thread is not blocked"); }).join();
    EXPECT_EQ(tail.texts(), (std::vector<std::wstring>{L"inner", L"outer", L"other thread is not blocked"}));
    ASSERT_EQ(tail.lines().size(), 3u);
    EXPECT_EQ(tail.lines()[1].substr(9, 14), L"     Outer  1E");
}
