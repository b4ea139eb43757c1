#include "app/CommandLine.h"
#include "app/NumberConversion.h"
#include "support/TestSupport.h"

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

TEST(CommandLine, ValueOfEachOptionAsWritten)
{
    const std::wstring longValue(30000, L'p');
    const struct
    {
        std::wstring commandLine;
        const wchar_t* name;
        std::wstring value;
    } cases[] = {
        // Either prefix, either separator, names in any case.
        {L"prog.exe /Path:C:\\x", L"Path", L"C:\\x"},
        {L"prog.exe -path:C:\\x", L"Path", L"C:\\x"},
        {L"prog.exe /PATH=C:\\x", L"Path", L"C:\\x"},
        // An equals sign anywhere wins over an earlier colon.
        {L"prog.exe /Path:C:\\a=b", L"Path:C:\\a", L"b"},
        {L"prog.exe /Path:C:\\a=b", L"Path", L"<absent>"},
        // Double quotes around the argument or the value, single quotes around a value.
        {L"prog.exe \"/Path:C:\\with blank\\x\"", L"Path", L"C:\\with blank\\x"},
        {L"prog.exe /Path:\"C:\\with blank\"", L"Path", L"C:\\with blank"},
        {L"prog.exe /Path:'C:\\x'", L"Path", L"C:\\x"},
        {L"prog.exe /Path:''", L"Path", L"''"},
        {L"prog.exe /Path:'a b'", L"Path", L"'a"},
        {L"prog.exe /Path:''x''", L"Path", L"'x'"},
        {L"prog.exe \"/Path:C:\\x /Wait:1", L"Path", L"C:\\x /Wait:1"},
        // The last value counts.
        {L"prog.exe /Wait:5 /x /wait:7", L"WAIT", L"7"},
        // Present without a value.
        {L"prog.exe /DeleteSelf - /WaitOnMutex:", L"deleteself", L""},
        {L"prog.exe /DeleteSelf - /WaitOnMutex:", L"", L""},
        {L"prog.exe /DeleteSelf - /WaitOnMutex:", L"WaitOnMutex", L""},
        {L"prog.exe /DeleteSelf - /WaitOnMutex:", L"Path", L"<absent>"},
        // Arguments that are no options.
        {L"prog.exe folder C:\\x +Path:y", L"Path", L"<absent>"},
        {L"prog.exe folder C:\\x +Path:y", L"folder", L"<absent>"},
        {L"", L"Path", L"<absent>"},
        // Only A-Z fold case.
        {L"prog.exe /\u00c9t\u00e9:1", L"\u00c9T\u00c9", L"<absent>"},
        {L"prog.exe /\u00c9t\u00e9:1", L"\u00c9T\u00e9", L"1"},
        {L"prog.exe /Path:" + longValue + L" /Wait:2", L"Path", longValue},
        {L"prog.exe /Path:" + longValue + L" /Wait:2", L"Wait", L"2"},
    };
    for (const auto& c : cases)
    {
        EXPECT_EQ(option(CCommandLine(c.commandLine), c.name), c.value)
            << test::narrow(c.commandLine.substr(0, 60)) << " / " << test::narrow(c.name);
    }
}

TEST(ConvertToNumber, DecimalAndHexadecimal)
{
    EXPECT_EQ(App::convertToNumber(L"5"), 5);
    EXPECT_EQ(App::convertToNumber(L" 12 "), 12);
    EXPECT_EQ(App::convertToNumber(L"+7"), 7);
    EXPECT_EQ(App::convertToNumber(L"-3"), -3);
    EXPECT_EQ(App::convertToNumber(L"0x1A"), 26);
    EXPECT_EQ(App::convertToNumber(L"0X1a"), 26);
    EXPECT_EQ(App::convertToNumber(L"0x0A"), 10);
    EXPECT_EQ(App::convertToNumber(L"0x7fffffff"), 2147483647);
    EXPECT_EQ(App::convertToNumber(L"2147483647"), 2147483647);
    EXPECT_EQ(App::convertToNumber(L"-2147483648"), -2147483647 - 1);
}

TEST(ConvertToNumber, RejectsEverythingElse)
{
    for (const wchar_t* text : {L"0x", L"12abc", L"1,000", L"", L"4294967296", L"2147483648", L"abc", L" 0x10", L"0xg",
                                L"0xffffffff", L"1 2"})
    {
        EXPECT_THROW(App::convertToNumber(text), std::bad_cast) << std::wstring(text).size();
    }
}
