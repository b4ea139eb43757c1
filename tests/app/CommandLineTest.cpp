#include "app/CommandLine.h"
#include "app/NumberConversion.h"

#include <gtest/gtest.h>

#include <typeinfo>

namespace
{
std::wstring option(const CCommandLine& options, const wchar_t* name)
{
    const wchar_t* value = options.getOption(name);
    return value != nullptr ? value : L"<absent>";
}
}  // namespace

TEST(CommandLine, PrefixesSeparatorsAndCaseFindTheSameOption)
{
    for (const wchar_t* text : {L"prog.exe /Path:C:\\x", L"prog.exe -path:C:\\x", L"prog.exe /PATH=C:\\x"})
    {
        EXPECT_EQ(option(CCommandLine(text), L"Path"), L"C:\\x") << text;
    }
}

TEST(CommandLine, EqualsSignAnywhereWinsOverAnEarlierColon)
{
    const CCommandLine options(L"prog.exe /Path:C:\\a=b");
    EXPECT_EQ(option(options, L"Path:C:\\a"), L"b");
    EXPECT_EQ(options.getOption(L"Path"), nullptr);
}

TEST(CommandLine, QuotesAroundValues)
{
    EXPECT_EQ(option(CCommandLine(L"prog.exe \"/Path:C:\\with blank\\x\""), L"Path"), L"C:\\with blank\\x");
    EXPECT_EQ(option(CCommandLine(L"prog.exe /Path:\"C:\\with blank\""), L"Path"), L"C:\\with blank");
    EXPECT_EQ(option(CCommandLine(L"prog.exe /Path:'C:\\x'"), L"Path"), L"C:\\x");
    EXPECT_EQ(option(CCommandLine(L"prog.exe /Path:''"), L"Path"), L"''");
    EXPECT_EQ(option(CCommandLine(L"prog.exe /Path:'a b'"), L"Path"), L"'a");
    EXPECT_EQ(option(CCommandLine(L"prog.exe /Path:''x''"), L"Path"), L"'x'");
}

TEST(CommandLine, LastValueAndFirstSpellingAreKept)
{
    const CCommandLine options(L"prog.exe /Wait:5 /x /wait:7");
    EXPECT_EQ(option(options, L"WAIT"), L"7");
}

TEST(CommandLine, PresenceWithoutValue)
{
    const CCommandLine options(L"prog.exe /DeleteSelf - /WaitOnMutex:");
    ASSERT_NE(options.getOption(L"deleteself"), nullptr);
    EXPECT_EQ(option(options, L"DeleteSelf"), L"");
    EXPECT_EQ(option(options, L""), L"");
    EXPECT_EQ(option(options, L"WaitOnMutex"), L"");
    EXPECT_EQ(options.getOption(L"Path"), nullptr);
}

TEST(CommandLine, OtherArgumentsAreIgnored)
{
    const CCommandLine options(L"prog.exe folder C:\\x +Path:y");
    EXPECT_EQ(options.getOption(L"Path"), nullptr);
    EXPECT_EQ(options.getOption(L"folder"), nullptr);
}

TEST(CommandLine, OnlyAsciiLettersFoldCase)
{
    const CCommandLine options(L"prog.exe /\u00c9t\u00e9:1");
    EXPECT_EQ(option(options, L"\u00c9T\u00c9"), L"<absent>");
    EXPECT_EQ(option(options, L"\u00c9T\u00e9"), L"1");
}

TEST(CommandLine, UnbalancedQuotesAndHugeLinesDoNotBreakParsing)
{
    EXPECT_EQ(option(CCommandLine(L"prog.exe \"/Path:C:\\x /Wait:1"), L"Path"), L"C:\\x /Wait:1");
    const std::wstring huge = L"prog.exe /Path:" + std::wstring(30000, L'p') + L" /Wait:2";
    const CCommandLine options(huge);
    EXPECT_EQ(option(options, L"Path").size(), 30000u);
    EXPECT_EQ(option(options, L"Wait"), L"2");
    EXPECT_EQ(CCommandLine(L"").getOption(L"Path"), nullptr);
}

TEST(ConvertToNumber, DecimalAndHexadecimal)
{
    EXPECT_EQ(convertToNumber(L"5"), 5);
    EXPECT_EQ(convertToNumber(L" 12 "), 12);
    EXPECT_EQ(convertToNumber(L"+7"), 7);
    EXPECT_EQ(convertToNumber(L"-3"), -3);
    EXPECT_EQ(convertToNumber(L"0x1A"), 26);
    EXPECT_EQ(convertToNumber(L"0X1a"), 26);
    EXPECT_EQ(convertToNumber(L"0x0A"), 10);
    EXPECT_EQ(convertToNumber(L"0x7fffffff"), 2147483647);
    EXPECT_EQ(convertToNumber(L"2147483647"), 2147483647);
    EXPECT_EQ(convertToNumber(L"-2147483648"), -2147483647 - 1);
}

TEST(ConvertToNumber, RejectsEverythingElse)
{
    for (const wchar_t* text : {L"0x", L"12abc", L"1,000", L"", L"4294967296", L"2147483648", L"abc", L" 0x10", L"0xg",
                                L"0xffffffff", L"1 2"})
    {
        EXPECT_THROW(convertToNumber(text), std::bad_cast) << std::wstring(text).size();
    }
}
