#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

// Runs of copies of Tidewell with a configuration file beside them: only those copies see it.
namespace
{
const wchar_t* const kMissingPath = L"Missing argument Path";

void writeConfig(const test::CTempDir& dir, const std::wstring& targetDir)
{
    test::writeTextFile(dir / L"MxQorSetup.cfg", "[Trace]\r\nLevel=3\r\nTargetDir=" + test::narrow(targetDir) + "\r\n");
}

std::size_t countOf(const std::vector<std::wstring>& texts, const std::wstring& text)
{
    return static_cast<std::size_t>(std::count(texts.begin(), texts.end(), text));
}

std::uint32_t runIn(const CFilePath& exe, const std::wstring& arguments, const std::wstring& currentDirectory)
{
    test::CProcess process;
    test::start(process, exe, arguments, currentDirectory);
    return process.wait();
}
}  // namespace

TEST(TraceSettingsRun, ConfigurationFileNamesTheFolderAndTheExecutableTheFile)
{
    test::CTempDir programs;
    test::CTempDir logs;
    // The folder goes through the environment, as support would write it.
    const std::wstring variable = test::uniqueName(L"TW_LOGROOT");
    ASSERT_TRUE(::SetEnvironmentVariableW(variable.c_str(), logs.path().c_str()));
    writeConfig(programs, L"%" + variable + L"%\\deep\\logs");

    const std::wstring plain = test::uniqueName(L"tw_cfg");
    const CFilePath noDot = programs / L"nodotprogram";
    ASSERT_TRUE(::CopyFileW(test::tidewellExe().c_str(), noDot.c_str(), FALSE));
    const CFilePath runs[] = {test::copyTidewell(programs.path(), plain), test::copyTidewell(programs.path(), L"a.b"),
                              noDot};
    for (const CFilePath& exe : runs)
    {
        EXPECT_EQ(test::runProgram(exe, L""), 0xFFFFFFFFu);
    }
    ::SetEnvironmentVariableW(variable.c_str(), nullptr);

    const CFilePath folder = logs / L"deep\\logs";
    for (const std::wstring& name : {plain + L".log", std::wstring(L"a.b.log"), std::wstring(L"nodotprogram.log")})
    {
        EXPECT_EQ(countOf(test::logTexts(CFilePath::combine(folder, name)), kMissingPath), 1u) << test::narrow(name);
    }
    EXPECT_FALSE(test::exists(test::defaultLogPath(plain)));
}

TEST(TraceSettingsRun, EmptyConfigurationFileLogsIntoTheCurrentDirectory)
{
    test::CTempDir programs;
    test::CTempDir current;
    test::writeTextFile(programs / L"MxQorSetup.cfg", "");
    const std::wstring name = test::uniqueName(L"tw_empty");
    EXPECT_EQ(runIn(test::copyTidewell(programs.path(), name), L"", current.path()), 0xFFFFFFFFu);

    EXPECT_EQ(countOf(test::logTexts(current / (name + L".log")), kMissingPath), 1u);
    EXPECT_FALSE(test::exists(test::defaultLogPath(name)));
}

TEST(TraceSettingsRun, LogAndLogmodeAppendContinueTheLog)
{
    test::CTempDir programs;
    test::CTempDir logs;
    writeConfig(programs, logs.path());
    const std::wstring name = test::uniqueName(L"tw_append");
    const CFilePath exe = test::copyTidewell(programs.path(), name);
    const CFilePath log = logs / (name + L".log");

    const struct
    {
        const wchar_t* arguments;
        std::size_t linesAfter;
    } steps[] = {
        {L"", 1}, {L"/log /logmode:APPEND", 2}, {L"-Log -LOGMODE=append", 3}, {L"/logmode:append", 1}, {L"/log", 1},
    };
    for (const auto& step : steps)
    {
        EXPECT_EQ(test::runProgram(exe, step.arguments), 0xFFFFFFFFu);
        const std::string bytes = test::readBytes(log);
        ASSERT_GE(bytes.size(), 2u);
        EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE") << "one byte-order mark at the start";
        EXPECT_EQ(countOf(test::logTexts(log), kMissingPath), step.linesAfter) << test::narrow(step.arguments);
    }
}

TEST(TraceSettingsRun, UnusableSettingsStillGiveALogThatSaysWhy)
{
    // A folder too long to split into a drive and folders: the log falls back to the default
    // folder and starts with a warning instead of being lost.
    test::CTempDir programs;
    writeConfig(programs, L"C:\\" + std::wstring(300, L'x'));
    const std::wstring name = test::uniqueName(L"tw_fallback");
    const test::CRunResult result = test::runTidewell(programs.path(), name, L"");
    const CFilePath log = test::defaultLogPath(name);
    ::DeleteFileW(log.c_str());

    EXPECT_EQ(result.exitCode, 0xFFFFFFFFu);
    const std::wstring warning =
        L"The trace settings could not be read; the default settings are used. "
        L"WinAPI::splitpath(C:\\xxx";
    const std::size_t found = test::indexOfStart(result.texts(), warning);
    ASSERT_LT(found, result.texts().size()) << "no warning in the log";
    const std::wstring line = result.eventLines()[found];
    EXPECT_EQ(test::lineSeverity(line), L'W');
    EXPECT_EQ(line.substr(9, 10), L"MxQorTavLg");
    EXPECT_EQ(countOf(result.texts(), kMissingPath), 1u);
}

TEST(TraceSettingsRun, ConfigurationFileBesideADeepExecutableIsRead)
{
    // The executable's path just fits in MAX_PATH characters, the configuration file's does not.
    test::CTempDir programs;
    test::CTempDir logs;
    test::CTempDir current;
    const std::wstring exeName = L"t.exe";
    const CFilePath deep = programs / std::wstring(MAX_PATH - 3 - programs.path().size() - exeName.size(), L'd');
    test::makeFolder(deep);
    const CFilePath exe = deep / exeName;
    ASSERT_EQ(exe.size(), MAX_PATH - 1u);
    ASSERT_TRUE(::CopyFileW(test::tidewellExe().c_str(), exe.c_str(), FALSE));
    test::writeTextFile(deep / L"MxQorSetup.cfg", "[Trace]\r\nTargetDir=" + test::narrow(logs.path()) + "\r\n");
    EXPECT_EQ(runIn(exe, L"", current.path()), 0xFFFFFFFFu);
    EXPECT_EQ(countOf(test::logTexts(logs / L"t.log"), kMissingPath), 1u);
}

TEST(TraceSettingsRun, CopyOfADeepConfigurationFileIsNeverMadeThroughALinkAtItsName)
{
    test::CTempDir programs;
    test::CTempDir logs;
    test::CTempDir planted;
    test::CTempDir temp;
    const std::wstring exeName = L"t.exe";
    const CFilePath deep = programs / std::wstring(MAX_PATH - 3 - programs.path().size() - exeName.size(), L'd');
    test::makeFolder(deep);
    const CFilePath exe = deep / exeName;
    ASSERT_TRUE(::CopyFileW(test::tidewellExe().c_str(), exe.c_str(), FALSE));
    test::writeTextFile(deep / L"MxQorSetup.cfg", "[Trace]\r\nTargetDir=" + test::narrow(logs.path()) + "\r\n");
    const std::string plantedSettings = "[Trace]\r\nTargetDir=" + test::narrow(planted.path()) + "\r\n";
    test::writeTextFile(planted / L"MxQorSetup.cfg", plantedSettings);

    // The copy's folder is named after the process: a link waits at that name before the run starts.
    std::wstring commandLine = L"\"" + exe + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    {
        test::CTempFolderOverride scoped(temp.path());
        ASSERT_TRUE(::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                                     nullptr, nullptr, &startup, &process));
    }
    test::makeUnixLink(temp / (L"MxQorSetup." + std::to_wstring(process.dwProcessId)), planted.path());
    ::ResumeThread(process.hThread);
    EXPECT_EQ(::WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);

    EXPECT_EQ(countOf(test::logTexts(logs / L"t.log"), kMissingPath), 1u) << "the settings of the program's own file";
    EXPECT_EQ(test::readBytes(planted / L"MxQorSetup.cfg"), plantedSettings);
    EXPECT_FALSE(test::exists(planted / L"t.log"));
}
