// End-to-end runs of the program under Wine, each reading the log it really wrote.
#include "support/TestSupport.h"
#include "win/UniqueHolder.h"

#include <gtest/gtest.h>

#include <regex>

using test::CParallelRun;
using test::CRunResult;

namespace
{
constexpr std::uint32_t kMinusOne = 0xFFFFFFFF;
}  // namespace

TEST(Driver, NoOptionsAtAll)
{
    test::CTempDir dir;
    const CRunResult run = test::runTidewell(dir.path(), test::uniqueName(L"tw"), L"");
    EXPECT_EQ(run.exitCode, kMinusOne);
    EXPECT_EQ(run.texts(), (std::vector<std::wstring>{L"Missing argument Path", L"Tidewell return value: -1"}));
    for (const std::wstring& line : run.eventLines())
    {
        EXPECT_EQ(test::lineSeverity(line), L'E');
    }
}

TEST(Driver, PathWithoutWaitTouchesNothing)
{
    test::CTempDir dir;
    test::makeFolder(dir / L"target");
    const CRunResult run = test::runTidewell(dir.path(), test::uniqueName(L"tw"), L"/Path:" + (dir / L"target//"));
    EXPECT_EQ(run.exitCode, kMinusOne);
    EXPECT_EQ(run.texts(), (std::vector<std::wstring>{L"Working on Path " + (dir / L"target"), L"Missing argument Wait",
                                                      L"Tidewell return value: -1"}));
    EXPECT_TRUE(test::exists(dir / L"target"));
}

TEST(Driver, SuccessfulRunWritesEveryStepInOrderAndInColumns)
{
    test::CTempDir dir;
    const CFilePath target = dir / L"target";
    test::makeFolder(target);
    test::writeTextFile(target / L"f.txt");
    const std::wstring mutex = test::uniqueName(L"M1");
    const CRunResult run =
        test::runTidewell(dir.path(), test::uniqueName(L"tw"), L"-path=" + target + L"/ /WAIT=1 /WaitOnMutex:" + mutex);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_FALSE(test::exists(target));
    EXPECT_EQ(run.texts(), (std::vector<std::wstring>{
                               L"Working on Path " + target,
                               L"Waitime in seconds: 1",
                               L"Waiting for mutex " + mutex,
                               L"Finished waiting",
                               L"Sleeping for 1 seconds...",
                               L"Deleting " + target + L" now.",
                               L"Tidewell finished successfully.",
                           }));
    const std::wregex format(LR"(\d\d:\d\d:\d\d   QorS_Del  1   .*)");
    ASSERT_EQ(run.eventLines().size(), 7u);
    for (const std::wstring& line : run.eventLines())
    {
        EXPECT_TRUE(std::regex_match(line, format)) << test::narrow(line);
    }
}

TEST(Driver, MissingFolderAndEmptyPathSucceed)
{
    test::CTempDir dir;
    std::vector<CParallelRun> runs{{L"/Path:" + (dir / L"missing") + L" /Wait:0", L"", {}},
                                   {L"/Path /Wait:0x0", L"", {}}};
    test::runTogether(dir.path(), runs);
    EXPECT_EQ(runs[0].result.exitCode, 0u);
    EXPECT_EQ(runs[0].result.texts(),
              (std::vector<std::wstring>{L"Working on Path " + (dir / L"missing"), L"Waitime in seconds: 0",
                                         L"No Mutex supplied", L"Deleting " + (dir / L"missing") + L" now.",
                                         L"Tidewell finished successfully."}));
    EXPECT_EQ(runs[1].result.exitCode, 0u);
    EXPECT_EQ(runs[1].result.texts(),
              (std::vector<std::wstring>{L"Working on Path ", L"Waitime in seconds: 0", L"No Mutex supplied",
                                         L"Deleting  now.", L"Tidewell finished successfully."}));
    EXPECT_TRUE(test::exists(dir.path()));
}

TEST(Driver, FailedDeletionEndsWithOne)
{
    test::CTempDir dir;
    const CFilePath target = dir / L"target";
    test::makeFolder(target);
    test::writeTextFile(target / L"held.txt");
    test::writeTextFile(target / L"other.txt");
    test::CChildHolder holder(L"hold", target / L"held.txt");
    ASSERT_TRUE(holder.holds());

    const CRunResult run = test::runTidewell(dir.path(), test::uniqueName(L"tw"), L"/Path:" + target + L" /Wait:0");
    holder.release();
    EXPECT_EQ(run.exitCode, 1u);
    const std::vector<std::wstring> texts = run.texts();
    ASSERT_GE(texts.size(), 4u);
    const std::wstring failure = L"Could not remove " + target + L" completely: WinAPI::deleteFile(" +
                                 (target / L"held.txt") + L") failed. Error message: ";
    const std::size_t line = test::indexOfStart(texts, failure);
    ASSERT_LT(line + 1, texts.size());
    EXPECT_NE(texts[line + 1].find(L"WinAPI::removeDirectory(" + target + L") failed."), std::wstring::npos)
        << "the folder's failure is a continuation line";
    EXPECT_EQ(texts.back(), L"Tidewell return value: 1");
    EXPECT_FALSE(test::exists(target / L"other.txt"));
}

TEST(Driver, UnusableWaitValuesKeepFiveSeconds)
{
    test::CTempDir dir;
    const std::wstring missing = L"/Path:" + (dir / L"missing");
    std::vector<CParallelRun> runs{{missing + L" /Wait:abc", L"", {}},
                                   {missing + L" /wait:", L"", {}},
                                   {missing + L" /Wait:-3", L"", {}},
                                   {missing + L" /Wait:4294968", L"", {}}};
    test::runTogether(dir.path(), runs);
    const std::wstring expected[] = {
        L"/Wait:abc can't be converted to number.", L"/Wait: can't be converted to number.",
        L"/Wait:-3 is out of range (0 to 4294967 seconds).", L"/Wait:4294968 is out of range (0 to 4294967 seconds)."};
    for (std::size_t i = 0; i < runs.size(); ++i)
    {
        const std::vector<std::wstring> texts = runs[i].result.texts();
        EXPECT_EQ(runs[i].result.exitCode, 0u);
        ASSERT_GE(texts.size(), 5u);
        EXPECT_EQ(texts[1], expected[i]);
        EXPECT_EQ(texts[2], L"Waitime in seconds: 5");
        EXPECT_EQ(texts[4], L"Sleeping for 5 seconds...");
    }
}

TEST(Driver, CurrentDirectoryInsideTheTargetDoesNotStopTheDeletion)
{
    test::CTempDir dir;
    const CFilePath target = dir / L"target";
    test::makeFolder(target);
    test::makeFolder(target / L"sub");
    std::vector<CParallelRun> runs{{L"/Path:" + target + L" /Wait:0", target / L"sub", {}}};
    test::runTogether(dir.path(), runs);
    EXPECT_EQ(runs[0].result.exitCode, 0u);
    EXPECT_FALSE(test::exists(target));
}

TEST(Driver, LogInsideTheTargetMovesOutWithEverythingItHolds)
{
    struct
    {
        const char* settings;
        bool runInTarget;
    } cases[] = {{"[Trace]\r\nTargetDir=<target>\\logs\r\n", false}, {"", true}};
    for (const auto& c : cases)
    {
        test::CTempDir dir;
        test::CTempDir temp;
        const CFilePath target = dir / L"target";
        test::makeFolder(target);
        std::string settings = c.settings;
        if (const std::size_t at = settings.find("<target>"); at != std::string::npos)
        {
            settings.replace(at, 8, test::narrow(target));
        }
        test::writeTextFile(dir / L"MxQorSetup.cfg", settings);
        const std::wstring name = test::uniqueName(L"tw");
        test::CProcess process;
        {
            test::CTempFolderOverride scoped(temp.path());
            test::start(process, test::copyTidewell(dir.path(), name), L"/Path:" + target + L" /Wait:0",
                        c.runInTarget ? target : CFilePath());
        }
        EXPECT_EQ(process.wait(), 0u) << c.settings;
        EXPECT_FALSE(test::exists(target));
        const CFilePath log = temp / (name + L".log");
        EXPECT_EQ(test::headerRulers(test::readLogLines(log)), 2u) << "the header came along";
        EXPECT_EQ(
            test::logTexts(log),
            (std::vector<std::wstring>{L"Working on Path " + target, L"Waitime in seconds: 0", L"No Mutex supplied",
                                       L"This log file lies in the folder to be deleted; the log continues in " + log,
                                       L"Deleting " + target + L" now.", L"Tidewell finished successfully."}));
    }
}

TEST(Driver, MalformedCommandLinesNeverDeleteWhatWasNotNamed)
{
    test::CTempDir dir;
    const CFilePath keep = dir / L"keep";
    test::makeFolder(keep);
    test::writeTextFile(keep / L"file.txt");
    const CFilePath unicode = dir / L"Z\u00fcrich \u65e5\u672c";
    test::makeFolder(unicode);
    test::writeTextFile(unicode / L"f.txt");

    std::vector<CParallelRun> runs{
        {L"/Foo:bar -x " + keep, L"", {}},                                  // unknown options only
        {L"/Path: /Wait:0", L"", {}},                                       // empty path
        {L"\"/Path:" + keep + L" /Wait:0", L"", {}},                        // unbalanced quote
        {L"/Path:" + keep + L"\\* /Wait:0", L"", {}},                       // a pattern: no name
        {L"/Path:" + std::wstring(30000, L'x') + L" /Wait:0", L"", {}},     // 30,000 characters
        {L"/Path:C:\\" + std::wstring(5000, L'p') + L" /Wait:0", L"", {}},  // a 5,000-character name
        {L"\"/Path:" + unicode + L"\" /Wait:0", L"", {}},                   // non-ASCII, deleted
    };
    test::runTogether(dir.path(), runs);
    const std::uint32_t exitCodes[] = {kMinusOne, 0, kMinusOne, kMinusOne, kMinusOne, kMinusOne, 0};
    for (std::size_t i = 0; i < runs.size(); ++i)
    {
        EXPECT_EQ(runs[i].result.exitCode, exitCodes[i]) << "run " << i;
        const std::vector<std::wstring> texts = runs[i].result.texts();
        ASSERT_FALSE(texts.empty()) << "run " << i;
        EXPECT_EQ(texts.back(), exitCodes[i] == 0 ? L"Tidewell finished successfully." : L"Tidewell return value: -1")
            << "run " << i;
    }
    EXPECT_TRUE(test::exists(keep / L"file.txt"));
    EXPECT_FALSE(test::exists(unicode));
    EXPECT_EQ(runs[6].result.texts().front(), L"Working on Path " + unicode);
}

TEST(Driver, PathsNamingNoEntryOfTheirOwnAreRefusedAndRelativeOnesResolvedOnce)
{
    test::CTempDir dir;
    const CFilePath cwd = dir / L"cwd";
    test::makeFolder(cwd);
    test::makeFolder(cwd / L"sub");
    test::writeTextFile(cwd / L"file.txt");
    // Command line, and the Path value it carries. The last is an installer's quoted folder with
    // a trailing backslash, which escapes the closing quote.
    const std::pair<std::wstring, std::wstring> refused[] = {{L"\"/Path:.\"", L"."},
                                                             {L"\"/Path:...\"", L"..."},
                                                             {L"\"/Path: \"", L" "},
                                                             {L"\"/Path:. .\"", L". ."},
                                                             {L"\"/Path:" + cwd + L"\\..\"", cwd + L"\\.."},
                                                             {L"/Path:C:.", L"C:."},
                                                             {L"/Path:\"" + cwd + L"\\\"", cwd + L"\""}};
    std::vector<CParallelRun> runs;
    for (const auto& [arguments, value] : refused)
    {
        runs.push_back({L"/Wait:0 " + arguments, cwd, {}});
    }
    runs.push_back({L"/Wait:0 /Path:sub", cwd, {}});
    test::runTogether(dir.path(), runs);
    for (std::size_t i = 0; i + 1 < runs.size(); ++i)
    {
        EXPECT_EQ(runs[i].result.exitCode, kMinusOne) << "run " << i;
        const std::vector<std::wstring> texts = runs[i].result.texts();
        ASSERT_EQ(texts.size(), 2u) << "run " << i;
        EXPECT_TRUE(texts[0].starts_with(L"Refusing Path \"" + refused[i].second + L"\": ")) << "run " << i;
    }
    EXPECT_TRUE(test::exists(cwd / L"file.txt"));
    EXPECT_EQ(runs.back().result.exitCode, 0u);
    EXPECT_EQ(runs.back().result.texts().front(), L"Working on Path " + (cwd / L"sub"));
    EXPECT_FALSE(test::exists(cwd / L"sub"));
}

TEST(Driver, RunGoesOnWithoutAnyLog)
{
    // Neither the configured folder nor the temporary folder can take the log.
    test::CTempDir dir;
    test::writeTextFile(dir / L"MxQorSetup.cfg", "[Trace]\r\nTargetDir=R:\\logs\r\n");
    const CFilePath target = dir / L"target";
    test::makeFolder(target);
    test::writeTextFile(target / L"f.txt");
    const CFilePath exe = test::copyTidewell(dir.path(), test::uniqueName(L"tw"));
    std::uint32_t exitCode = 0;
    {
        test::CTempFolderOverride nowhere(L"R:\\nowhere");
        exitCode = test::runProgram(exe, L"/Path:" + target + L" /Wait:0");
    }
    EXPECT_EQ(exitCode, 0u);
    EXPECT_FALSE(test::exists(target));
}

TEST(Driver, EveryLineOfTheRunIsLoggedWhenTheTemporaryFolderPathIsTooLong)
{
    test::CTempDir dir;
    const CFilePath target = dir / L"target";
    test::makeFolder(target);
    const std::wstring name = test::uniqueName(L"tw");
    const CFilePath exe = test::copyTidewell(dir.path(), name);
    std::uint32_t exitCode = 0;
    {
        test::CTempFolderOverride longTemp(dir / std::wstring(270, L't'));
        exitCode = test::runProgram(exe, L"/Path:" + target + L" /Wait:0");
    }
    const CFilePath log = test::defaultLogPath(name);
    const std::vector<std::wstring> lines = test::readLogLines(log);
    const std::vector<std::wstring> texts = test::logTexts(log);
    ::DeleteFileW(log.c_str());
    EXPECT_EQ(exitCode, 0u);
    EXPECT_FALSE(test::exists(target));
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.front(), L"Working on Path " + target);
    EXPECT_EQ(texts.back(), L"Tidewell finished successfully.");
    EXPECT_LT(test::indexOfStart(lines, L"   Temp directory:\t<ERROR "), lines.size());
}

TEST(Driver, LogThatCannotMoveToItsNameInTheTemporaryFolderTakesTheNextOneAndLosesNoLine)
{
    for (const bool liveWriter : {false, true})
    {
        SCOPED_TRACE(liveWriter ? "another writer's live log there" : "a file held without sharing there");
        test::CTempDir dir;
        test::CTempDir writerDir;
        test::CTempDir temp;
        const CFilePath target = dir / L"target";
        test::makeFolder(target);
        const std::wstring name = test::uniqueName(L"tw");
        test::writeTextFile(dir / L"MxQorSetup.cfg", "[Trace]\r\nTargetDir=" + test::narrow(target) + "\\logs\r\n");
        const CFilePath taken = temp / (name + L".log");
        CUniqueFile held;
        test::CEvent ready(L"ready");
        test::CEvent go(L"go");
        test::CProcess writer;
        if (liveWriter)
        {
            // Another program of the same name writes its own log in the temporary folder.
            const CFilePath other = test::copyProgram(test::logWriterExe(), writerDir.path(), name);
            test::writeTextFile(writerDir / L"MxQorSetup.cfg",
                                "[Trace]\r\nTargetDir=" + test::narrow(temp.path()) + "\r\n");
            test::start(writer, other, L"1 " + ready.name() + L" " + go.name() + L" writer");
            ASSERT_TRUE(ready.wait());
        }
        else
        {
            test::writeTextFile(taken, "held");
            held = CUniqueFile(::CreateFileW(taken.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(held.isValid());
        }
        test::CProcess run;
        {
            test::CTempFolderOverride scoped(temp.path());
            test::start(run, test::copyTidewell(dir.path(), name), L"/Path:" + target + L" /Wait:0");
        }
        EXPECT_EQ(run.wait(), 0u);
        go.set();
        EXPECT_EQ(writer.info.hProcess != nullptr ? writer.wait() : 0u, 0u);
        held.reset();

        EXPECT_FALSE(test::exists(target));
        const CFilePath moved = temp / (name + L" (2).log");
        const std::vector<std::wstring> texts = test::logTexts(moved);
        EXPECT_EQ(test::headerRulers(test::readLogLines(moved)), 2u) << "its own header, and only that";
        ASSERT_FALSE(texts.empty());
        EXPECT_EQ(texts.front(), L"Working on Path " + target);
        EXPECT_LT(
            test::indexOf(texts, L"This log file lies in the folder to be deleted; the log continues in " + moved),
            texts.size());
        EXPECT_EQ(texts.back(), L"Tidewell finished successfully.");
        if (liveWriter)
        {
            const std::vector<std::wstring> writerTexts = test::logTexts(taken);
            EXPECT_EQ(test::headerRulers(test::readLogLines(taken)), 2u);
            ASSERT_EQ(writerTexts.size(), 1u);
            EXPECT_TRUE(writerTexts[0].starts_with(L"writer ")) << "nothing of the run under the writer's header";
        }
    }
}

TEST(Driver, LogThatMovesOutOfTheTargetRemovesOnlyItsOwnOldFile)
{
    // While the run waits, the log folder inside the target becomes a link to another folder that
    // has a file of the log's name.
    test::CTempDir dir;
    test::CTempDir victim;
    test::CTempDir temp;
    const CFilePath target = dir / L"target";
    test::makeFolder(target);
    const std::wstring name = test::uniqueName(L"tw");
    test::writeTextFile(victim / (name + L".log"), "precious");
    test::writeTextFile(dir / L"MxQorSetup.cfg", "[Trace]\r\nTargetDir=" + test::narrow(target) + "\\logs\r\n");
    const std::wstring mutex = test::uniqueName(L"M");
    test::CChildHolder holder(L"mutex", mutex);
    ASSERT_TRUE(holder.holds());
    test::CProcess run;
    {
        test::CTempFolderOverride scoped(temp.path());
        test::start(run, test::copyTidewell(dir.path(), name), L"/Path:" + target + L" /Wait:0 /WaitOnMutex:" + mutex);
    }
    ASSERT_TRUE(test::waitUntil([&] {
        const std::vector<std::wstring> texts = test::logTexts(target / L"logs" / (name + L".log"));
        return test::indexOf(texts, L"Waiting for mutex " + mutex) < texts.size();
    }));
    test::startUnixProgram(L"/bin/sh -c \"mv '" + test::unixPath(target / L"logs") + L"' '" +
                           test::unixPath(target / L"old") + L"' && ln -s '" + test::unixPath(victim.path()) + L"' '" +
                           test::unixPath(target / L"logs") + L"'\"");
    ASSERT_TRUE(test::waitUntil([&] { return test::exists(target / L"old"); }));
    holder.release();
    run.wait();
    EXPECT_EQ(test::readBytes(victim / (name + L".log")), "precious");
    const std::vector<std::wstring> texts = test::logTexts(temp / (name + L".log"));
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back().substr(0, 8), L"Tidewell");
}
