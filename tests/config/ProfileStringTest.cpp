#include "support/TestSupport.h"
#include "win/ProfileCalls.h"

#include <gtest/gtest.h>

namespace
{
class ProfileString : public ::testing::Test
{
protected:
    test::CTempDir m_dir;
    CFilePath m_file = m_dir / L"settings.cfg";

    std::wstring read(const std::wstring& key, const std::wstring& defaultText = L"")
    {
        return WinAPI::getPrivateProfileString(L"Trace", key, defaultText, m_file);
    }
};
}  // namespace

TEST_F(ProfileString, EntriesAtTheGrowthBoundariesArriveWhole)
{
    // 126 characters fit the first 128 units; 127 fill it to length - 1 and are read again with
    // 256; 255 need 512; 300 need three calls; a long line many more.
    const std::size_t lengths[] = {0, 1, 126, 127, 128, 254, 255, 256, 300, 100000};
    std::string content = "[Other]\r\nE126=wrong section\r\n[Trace]\r\n";
    for (const std::size_t length : lengths)
    {
        content += "E" + std::to_string(length) + "=" + std::string(length, 'a' + length % 26) + "\r\n";
    }
    test::writeTextFile(m_file, content);
    for (const std::size_t length : lengths)
    {
        EXPECT_EQ(read(L"E" + std::to_wstring(length), L"default"),
                  length == 0 ? L"" : std::wstring(length, static_cast<wchar_t>(L'a' + length % 26)))
            << "length " << length;
    }
}

TEST_F(ProfileString, MissingEntrySectionOrFileGivesTheDefault)
{
    test::writeTextFile(m_file, "[Trace]\r\nLevel=3\r\n");
    EXPECT_EQ(read(L"TargetDir"), L"");
    EXPECT_EQ(read(L"TargetDir", L"fallback"), L"fallback");
    EXPECT_EQ(WinAPI::getPrivateProfileString(L"None", L"Level", L"d", m_file), L"d");
    EXPECT_EQ(WinAPI::getPrivateProfileString(L"Trace", L"Level", L"", m_dir / L"missing.cfg"), L"");
    // A default that itself does not fit the first buffer.
    const std::wstring longDefault(500, L'd');
    EXPECT_EQ(read(L"TargetDir", longDefault), longDefault);
}

TEST_F(ProfileString, MalformedFilesGiveTextOrTheDefaultWithoutFailing)
{
    // Binary garbage with zero bytes, a section header without its bracket, a key without '='.
    static const char kStart[] = "\x01\x00[Trace\r\nTargetDir\r\n\0\0\0[Trace]\r\n";
    std::string garbage(kStart, sizeof kStart - 1);
    for (int i = 0; i < 5000; ++i)
    {
        garbage += static_cast<char>((i * 7919) % 256);
    }
    test::writeTextFile(m_file, garbage);
    EXPECT_EQ(read(L"TargetDir", L"d"), L"d") << "no entry in the broken section or after the whole one";

    test::writeTextFile(m_file, "[Trace]\r\nTargetDir=\"C:\\quoted dir\"\r\n  Level = 2  \r\n");
    EXPECT_EQ(read(L"TargetDir"), L"C:\\quoted dir");
    EXPECT_EQ(read(L"Level"), L"2");
}
