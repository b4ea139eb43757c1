// The run's wait for a process (/WaitOnProcess) against real processes.
#include "support/TestSupport.h"
#include "win/UniqueHolder.h"

#include <gtest/gtest.h>

TEST(ProcessWait, NothingIsDeletedBeforeTheProcessHasEndedAndItIsWaitedForBeforeTheMutex)
{
    test::CTempDir dir;
    const CFilePath target = dir / L"target";
    test::makeFolder(target);
    test::writeTextFile(target / L"file.txt");
    test::CChildHolder child(L"event", test::uniqueName(L"TwProcessEvent"));
    ASSERT_TRUE(child.holds());
    const std::wstring pid = std::to_wstring(child.processId());
    const std::wstring mutex = test::uniqueName(L"TwProcessMutex");

    const std::wstring name = test::uniqueName(L"tw");
    test::CProcess run;
    test::start(run, test::copyTidewell(dir.path(), name),
                L"/Path:" + target + L" /Wait:0 /WaitOnMutex:" + mutex + L" /WaitOnProcess:" + pid);
    const std::wstring waiting = L"Waiting for process " + pid + L" (tw_child.exe)";
    ASSERT_TRUE(test::waitUntil([&] {
        const auto texts = test::logTexts(test::defaultLogPath(name));
        return test::indexOf(texts, waiting) < texts.size();
    }));
    EXPECT_EQ(::WaitForSingleObject(run.info.hProcess, 500), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(test::exists(target / L"file.txt"));

    child.release();
    EXPECT_EQ(run.wait(), 0u);
    EXPECT_FALSE(test::exists(target));
    const CFilePath log = test::defaultLogPath(name);
    const std::vector<std::wstring> texts = test::logTexts(log);
    ::DeleteFileW(log.c_str());
    const std::size_t process = test::indexOf(texts, waiting);
    ASSERT_LT(process + 4, texts.size());
    EXPECT_EQ(texts[process + 1], L"Finished waiting");
    EXPECT_EQ(texts[process + 2], L"Waiting for mutex " + mutex);
    EXPECT_EQ(texts[process + 3], L"Finished waiting");
    EXPECT_EQ(texts[process + 4], L"Deleting " + target + L" now.");
}

TEST(ProcessWait, AProcessThatHasEndedIsLoggedAndTheRunGoesOn)
{
    test::CTempDir dir;
    const CFilePath target = dir / L"target";
    test::makeFolder(target);
    // The helper without a command ends at once. Once its handles are closed its id soon names
    // nothing (Wine lets go of it about half a second later), and that for a while: Wine hands out
    // new ids before it reuses old ones.
    DWORD id = 0;
    {
        test::CProcess ended;
        test::start(ended, test::childExe(), L"");
        ASSERT_EQ(ended.wait(), 2u);
        id = ended.info.dwProcessId;
    }
    ASSERT_TRUE(test::waitUntil([id] {
        const CUniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, id));
        return !process.isValid();
    }));
    const std::wstring pid = std::to_wstring(id);

    const test::CRunResult run =
        test::runTidewell(dir.path(), test::uniqueName(L"tw"), L"/Path:" + target + L" /Wait:0 /WaitOnProcess:" + pid);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_FALSE(test::exists(target));
    const std::vector<std::wstring> texts = run.texts();
    EXPECT_LT(test::indexOf(texts, L"Process " + pid + L" does not exist (any more): nothing to wait for"),
              texts.size());
}
