#include "app/CommandLine.h"
#include "config/TraceConfig.h"
#include "support/TestSupport.h"
#include "win/SystemCalls.h"
#include "win/TavException.h"

#include <gtest/gtest.h>

namespace
{
const wchar_t* const kPresetFolder = L"C:\\preset";

// Settings as a source finds them: a folder already set, everything else at its initial value.
CTraceConfig preset()
{
    CTraceConfig settings;
    settings.TargetDir = kPresetFolder;
    return settings;
}

std::wstring defaultFolder()
{
    return CFilePath::combine(WinAPI::shGetSpecialFolderPath(), L"QOR\\QorSetup\\LOGs");
}

class TraceConfigFile : public ::testing::Test
{
protected:
    test::CTempDir m_dir;
    CFilePath m_file = m_dir / L"MxQorSetup.cfg";

    CTraceConfig read(const std::string& trace, CTraceConfig settings = preset())
    {
        test::writeTextFile(m_file, "[Trace]\r\n" + trace);
        return CTraceConfig::readConfigFile(std::move(settings), m_file);
    }
};

class TraceConfigRegistry : public ::testing::Test
{
protected:
    std::wstring m_path = test::CTestRegKey::uniquePath() + L"\\Trace";

    CTraceConfig read(CTraceConfig settings = preset())
    {
        return CTraceConfig::readRegistry(std::move(settings), m_path);
    }
};
}  // namespace

TEST_F(TraceConfigFile, NumbersAreTakenOnlyInTheirRanges)
{
    struct Case
    {
        std::string trace;
        std::uint32_t level;
        std::uint32_t maxBackup;
    };
    const Case cases[] = {
        {"", 2, 9},
        {"Level=1\r\nMaxBackup=0\r\n", 1, 0},
        {"Level=3\r\nMaxBackup=255\r\n", 3, 255},
        {"Level=0\r\nMaxBackup=256\r\n", 2, 9},
        {"Level=4\r\nMaxBackup=4294967295\r\n", 2, 9},
        {"Level=-1\r\nMaxBackup=99999999999\r\n", 2, 9},
        // The platform reads a number's leading digits and ignores what follows.
        {"Level=3 # verbose\r\nMaxBackup=12abc\r\n", 3, 12},
        {"Level=abc\r\nMaxBackup=\r\n", 2, 9},
        // A value that is no number keeps the setting instead of reading as 0 (no backups).
        {"Level=abc\r\nMaxBackup=nine\r\n", 2, 9},
        {"Level= 2\r\nMaxBackup=x5\r\n", 2, 9},
        {"level=1\r\nMAXBACKUP=3\r\n", 1, 3},
    };
    for (const Case& c : cases)
    {
        const CTraceConfig settings = read(c.trace);
        EXPECT_EQ(settings.Level, c.level) << c.trace;
        EXPECT_EQ(settings.MaxBackup, c.maxBackup) << c.trace;
    }
}

TEST_F(TraceConfigFile, FlushCanOnlyBeSwitchedOn)
{
    EXPECT_TRUE(read("Flush=1\r\n").Flush);
    EXPECT_TRUE(read("Flush=7\r\n").Flush);
    EXPECT_FALSE(read("Flush=0\r\n").Flush);
    EXPECT_FALSE(read("").Flush);
    CTraceConfig on = preset();
    on.Flush = true;
    EXPECT_TRUE(read("Flush=0\r\n", on).Flush);
}

TEST_F(TraceConfigFile, FolderIsAlwaysTakenAndExpanded)
{
    EXPECT_EQ(read("Level=3\r\n").TargetDir, L"") << "an absent folder empties the preset one";
    EXPECT_EQ(read("TargetDir=\r\n").TargetDir, L"");
    EXPECT_EQ(read("TargetDir=D:\\logs\\here\r\n").TargetDir, L"D:\\logs\\here");

    const std::wstring variable = test::uniqueName(L"TW_TRACE");
    ASSERT_TRUE(::SetEnvironmentVariableW(variable.c_str(), L"C:\\expanded"));
    const std::string reference(variable.begin(), variable.end());
    EXPECT_EQ(read("TargetDir=%" + reference + "%\\logs\r\n").TargetDir, L"C:\\expanded\\logs");
    EXPECT_EQ(read("TargetDir=%TW_NOT_SET_ANYWHERE%\\x\r\n").TargetDir, L"%TW_NOT_SET_ANYWHERE%\\x");
    ::SetEnvironmentVariableW(variable.c_str(), nullptr);
}

TEST_F(TraceConfigFile, UnreadableOrMalformedFilesKeepTheDefaults)
{
    // Held without sharing: the platform cannot read it.
    test::writeTextFile(m_file, "[Trace]\r\nLevel=3\r\nTargetDir=C:\\x\r\n");
    {
        const HANDLE locked =
            ::CreateFileW(m_file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(locked, INVALID_HANDLE_VALUE);
        const CTraceConfig settings = CTraceConfig::readConfigFile(preset(), m_file);
        ::CloseHandle(locked);
        EXPECT_EQ(settings.Level, 2u);
        EXPECT_EQ(settings.TargetDir, L"");
    }

    // A folder of that name.
    const CFilePath folder = m_dir / L"folder.cfg";
    test::makeFolder(folder);
    const CTraceConfig fromFolder = CTraceConfig::readConfigFile(preset(), folder);
    EXPECT_EQ(fromFolder.Level, 2u);
    EXPECT_EQ(fromFolder.MaxBackup, 9u);
    EXPECT_EQ(fromFolder.TargetDir, L"");

    // Binary garbage around a valid section.
    std::string garbage(3000, '\0');
    for (std::size_t i = 0; i < garbage.size(); ++i)
    {
        garbage[i] = static_cast<char>((i * 131) % 251);
    }
    test::writeTextFile(m_file, garbage + "\r\n[Trace]\r\nLevel=1\r\n" + garbage);
    EXPECT_EQ(CTraceConfig::readConfigFile(preset(), m_file).Level, 1u);
}

TEST_F(TraceConfigFile, HugeFolderIsReadButCannotNameALog)
{
    // Read whole and expanded (the platform may cut what is far beyond any path); composing the log
    // name then fails with an error, which the first open of the log answers with the defaults.
    const CTraceConfig settings = read("TargetDir=C:\\" + std::string(100000, 'h') + "\r\n");
    EXPECT_GE(settings.TargetDir.size(), 32000u);
    EXPECT_EQ(settings.TargetDir.rfind(L"C:\\hhhh", 0), 0u);
    EXPECT_THROW(composeLogFileName(settings), CTavException);
}

TEST_F(TraceConfigRegistry, CurrentUserHidesTheMachine)
{
    test::CTestRegKey machine(HKEY_LOCAL_MACHINE, m_path);
    machine.setDword(L"Level", 3);
    machine.setDword(L"MaxBackup", 4);
    machine.setString(L"TargetDir", L"C:\\machine");
    {
        test::CTestRegKey user(HKEY_CURRENT_USER, m_path);
        user.setDword(L"Flush", 1);
        const CTraceConfig settings = read();
        EXPECT_EQ(settings.Level, 2u);
        EXPECT_EQ(settings.MaxBackup, 9u);
        EXPECT_TRUE(settings.Flush);
        EXPECT_EQ(settings.TargetDir, kPresetFolder) << "an absent folder value leaves the folder";
    }
    const CTraceConfig settings = read();
    EXPECT_EQ(settings.Level, 3u);
    EXPECT_EQ(settings.MaxBackup, 4u);
    EXPECT_FALSE(settings.Flush);
    EXPECT_EQ(settings.TargetDir, L"C:\\machine");
}

TEST_F(TraceConfigRegistry, NoKeyLeavesTheSettings)
{
    const CTraceConfig settings = read();
    EXPECT_EQ(settings.Level, 2u);
    EXPECT_EQ(settings.MaxBackup, 9u);
    EXPECT_FALSE(settings.Flush);
    EXPECT_EQ(settings.TargetDir, kPresetFolder);
}

TEST_F(TraceConfigRegistry, ValuesOutOfRangeOrOfAnotherTypeAreIgnored)
{
    test::CTestRegKey key(HKEY_CURRENT_USER, m_path);
    key.setDword(L"Level", 4);
    key.setDword(L"MaxBackup", 256);
    EXPECT_EQ(read().Level, 2u);
    EXPECT_EQ(read().MaxBackup, 9u);

    key.setDword(L"Level", 0);
    key.setDword(L"MaxBackup", 0);
    EXPECT_EQ(read().Level, 2u);
    EXPECT_EQ(read().MaxBackup, 0u);

    key.setString(L"Level", L"3");
    const std::uint64_t quad = 1;
    key.setValue(L"MaxBackup", REG_QWORD, &quad, sizeof quad);
    key.setString(L"Flush", L"1");
    CTraceConfig on = preset();
    on.Flush = true;
    const CTraceConfig settings = read(on);
    EXPECT_EQ(settings.Level, 2u);
    EXPECT_EQ(settings.MaxBackup, 9u);
    EXPECT_TRUE(settings.Flush);

    key.setDword(L"Flush", 0);
    EXPECT_FALSE(read(on).Flush) << "the registry switches flushing off";
    key.setDword(L"Flush", 2);
    EXPECT_TRUE(read().Flush);
    key.setDword(L"Level", 1);
    EXPECT_EQ(read().Level, 1u);
}

TEST_F(TraceConfigRegistry, FolderOfAnotherTypeThanStringEmptiesIt)
{
    test::CTestRegKey key(HKEY_CURRENT_USER, m_path);
    const std::wstring variable = test::uniqueName(L"TW_TRACE");
    ASSERT_TRUE(::SetEnvironmentVariableW(variable.c_str(), L"C:\\expanded"));

    key.setString(L"TargetDir", L"%" + variable + L"%\\logs", REG_EXPAND_SZ);
    EXPECT_EQ(read().TargetDir, L"");
    key.setString(L"TargetDir", L"%" + variable + L"%\\logs", REG_SZ);
    EXPECT_EQ(read().TargetDir, L"C:\\expanded\\logs");
    key.setDword(L"TargetDir", 1);
    EXPECT_EQ(read().TargetDir, L"");
    // A folder far beyond the first buffer of the reader.
    const std::wstring longFolder = L"C:\\" + std::wstring(1000, L'l');
    key.setString(L"TargetDir", longFolder);
    EXPECT_EQ(read().TargetDir, longFolder);
    ::SetEnvironmentVariableW(variable.c_str(), nullptr);
}

TEST_F(TraceConfigRegistry, ShortNumberOfTheRightTypeIsAnErrorForTheCaller)
{
    test::CTestRegKey key(HKEY_CURRENT_USER, m_path);
    const std::uint8_t two[] = {3, 0};
    key.setValue(L"MaxBackup", REG_DWORD, two, sizeof two);
    try
    {
        read();
        ADD_FAILURE() << "a two-byte REG_DWORD was accepted";
    }
    catch (const CTavException& error)
    {
        EXPECT_EQ(error.errorCode, 0u);
        EXPECT_EQ(error.message, L"RegValue does not have enough data for conversion to DWORD");
    }
}

TEST(TraceConfigLoad, ConfigurationFileHidesTheRegistryEvenWhenEmpty)
{
    test::CTempDir dir;
    const std::wstring path = test::CTestRegKey::uniquePath() + L"\\Trace";
    test::CTestRegKey key(HKEY_CURRENT_USER, path);
    key.setDword(L"Level", 3);
    key.setDword(L"MaxBackup", 1);

    const CFilePath configFile = dir / L"MxQorSetup.cfg";
    const CTraceConfig fromRegistry = CTraceConfig::load(CTraceConfig(), {}, configFile, path);
    EXPECT_EQ(fromRegistry.Level, 3u);
    EXPECT_EQ(fromRegistry.MaxBackup, 1u);
    EXPECT_EQ(fromRegistry.TargetDir, defaultFolder());
    EXPECT_FALSE(fromRegistry.appendMode);

    test::writeTextFile(configFile, "");
    const CTraceConfig fromFile = CTraceConfig::load(CTraceConfig(), {}, configFile, path);
    EXPECT_EQ(fromFile.Level, 2u);
    EXPECT_EQ(fromFile.MaxBackup, 9u);
    EXPECT_EQ(fromFile.TargetDir, L"");
}

TEST(TraceConfigCommandLine, AppendNeedsLogAndLogmodeAppend)
{
    struct Case
    {
        const wchar_t* commandLine;
        bool append;
    };
    const Case cases[] = {
        {L"x.exe /log /logmode:append", true},
        {L"x.exe -LOG -LogMode=APPEND", true},
        {L"x.exe /logmode:append /log:anything", true},
        {L"x.exe /logmode:append", false},
        {L"x.exe /log", false},
        {L"x.exe /log /logmode:", false},
        {L"x.exe /log /logmode:appendix", false},
        {L"x.exe /log /logmode:overwrite", false},
        {L"x.exe log logmode:append", false},
    };
    for (const Case& c : cases)
    {
        EXPECT_EQ(CTraceConfig::readCommandLine(CTraceConfig(), CCommandLine(c.commandLine).logOptions()).appendMode,
                  c.append)
            << c.commandLine;
    }
    CTraceConfig on;
    on.appendMode = true;
    EXPECT_TRUE(CTraceConfig::readCommandLine(on, CCommandLine(L"x.exe").logOptions()).appendMode);
}

TEST(TraceConfigNames, MachinePrefixOnlyOffFixedDrives)
{
    // Under Wine C: (the prefix's drive) and Z: (the Linux root) are fixed drives; B: does not exist.
    ASSERT_EQ(::GetDriveTypeW(L"C:\\"), static_cast<UINT>(DRIVE_FIXED));
    ASSERT_EQ(::GetDriveTypeW(L"Z:\\"), static_cast<UINT>(DRIVE_FIXED));
    ASSERT_EQ(::GetDriveTypeW(L"B:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
    ASSERT_EQ(::GetDriveTypeW(nullptr), static_cast<UINT>(DRIVE_FIXED)) << "the current drive";

    CTraceConfig settings;
    const auto nameFor = [&settings](const wchar_t* folder) {
        settings.TargetDir = folder;
        return composeLogFileName(settings);
    };
    EXPECT_EQ(nameFor(L"C:\\logs"), L"test_log.log");
    EXPECT_EQ(nameFor(L"z:/logs/"), L"test_log.log");
    EXPECT_EQ(nameFor(L""), L"test_log.log");
    EXPECT_EQ(nameFor(L"\\\\server\\share\\logs"), L"test_log.log") << "judged by the current drive";
    EXPECT_EQ(nameFor(L"B:\\logs"), WinAPI::getComputerName() + L"_test_log.log");
}

TEST(TraceConfigNames, PathIsTheNormalisedFolderAndTheName)
{
    CTraceConfig settings;
    EXPECT_EQ(composeLogPath(settings, L"t.log"), L"t.log");
    settings.TargetDir = L"C:/a//b/";
    EXPECT_EQ(composeLogPath(settings, L"t.log"), L"C:\\a\\b\\t.log");
    settings.TargetDir = L"C:\\";
    EXPECT_EQ(composeLogPath(settings, L"t.log"), L"C:\\t.log");
}
