// The named mutex and its lock in this process, and the run's mutex wait against other processes.
#include "support/TestSupport.h"
#include "win/NamedMutex.h"

#include <gtest/gtest.h>

#include <thread>

namespace
{
// Whether another thread can acquire the mutex right now (it gives it back at once).
bool freeForAnotherThread(HANDLE mutex)
{
    DWORD result = WAIT_FAILED;
    std::thread other([&] {
        result = ::WaitForSingleObject(mutex, 0);
        if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED)
        {
            ::ReleaseMutex(mutex);
        }
    });
    other.join();
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

std::vector<std::wstring> logTexts(const std::wstring& exeName)
{
    return test::logTexts(test::defaultLogPath(exeName));
}
}  // namespace

TEST(NamedMutex, NewNameIsOwnedOnceAndALockReleasedTwiceGivesBackOneOwnership)
{
    const CNamedMutex mutex(test::uniqueName(L"TwLockedMutex"));
    const HANDLE handle = mutex.handle();
    CMutexLock lock(handle);
    lock.release();
    lock.release();

    // The construction's ownership is left, and only that one.
    EXPECT_FALSE(freeForAnotherThread(handle));
    EXPECT_TRUE(::ReleaseMutex(handle));
    const BOOL releasedAgain = ::ReleaseMutex(handle);
    const DWORD error = ::GetLastError();
    EXPECT_FALSE(releasedAgain);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_NOT_OWNER));
    EXPECT_TRUE(freeForAnotherThread(handle));
}

TEST(NamedMutex, CreationTellsWhetherTheNameExisted)
{
    const std::wstring name = test::uniqueName(L"TwExisted");
    bool existed = true;
    // A code left over from an earlier call must not be taken for the mutex's.
    ::SetLastError(ERROR_ALREADY_EXISTS);
    const CUniqueHandle first = WinAPI::createMutex(name, true, existed);
    EXPECT_FALSE(existed);
    const CUniqueHandle second = WinAPI::createMutex(name, true, existed);
    EXPECT_TRUE(existed);
    ::ReleaseMutex(first.get());
}

class MutexWaitRun : public ::testing::Test
{
protected:
    void SetUp() override
    {
        test::makeFolder(target);
        test::writeTextFile(targetFile);
    }

    std::wstring arguments(const wchar_t* wait) const
    {
        return L"/Path:" + target + L" /Wait:" + wait + L" /WaitOnMutex:" + mutexName;
    }

    test::CTempDir temp;
    CFilePath target = temp / L"target";
    CFilePath targetFile = CFilePath::combine(target, L"file.txt");
    std::wstring mutexName = test::uniqueName(L"TwRunMutex");
};

TEST_F(MutexWaitRun, BlocksWhileAnotherProcessHoldsTheMutex)
{
    test::CChildHolder child(L"mutex", mutexName);
    ASSERT_TRUE(child.holds());

    const std::wstring exeName = test::uniqueName(L"TwMutexHeld");
    test::CProcess tidewell;
    test::start(tidewell, test::copyTidewell(temp.path(), exeName), arguments(L"0"));
    ASSERT_TRUE(test::waitUntil([&] {
        const auto texts = logTexts(exeName);
        return test::indexOf(texts, L"Waiting for mutex " + mutexName) < texts.size();
    }));

    // Blocked in the wait: still running, nothing deleted, no "Finished waiting".
    EXPECT_EQ(::WaitForSingleObject(tidewell.info.hProcess, 300), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(test::exists(targetFile));
    const auto before = logTexts(exeName);
    EXPECT_EQ(test::indexOf(before, L"Finished waiting"), before.size());

    child.release();
    EXPECT_EQ(tidewell.wait(), 0u);
    EXPECT_FALSE(test::exists(target));

    const auto texts = logTexts(exeName);
    const std::size_t waiting = test::indexOf(texts, L"Waiting for mutex " + mutexName);
    const std::size_t finished = test::indexOf(texts, L"Finished waiting");
    const std::size_t deleting = test::indexOf(texts, L"Deleting " + target + L" now.");
    EXPECT_LT(waiting, finished);
    EXPECT_LT(finished, deleting);
    EXPECT_LT(deleting, texts.size());
}

TEST_F(MutexWaitRun, NameOfAnEventEndsTheRunBeforeDeleting)
{
    const test::CChildHolder child(L"event", mutexName);
    ASSERT_TRUE(child.holds());

    const test::CRunResult result = test::runTidewell(temp.path(), test::uniqueName(L"TwMutexEvent"), arguments(L"0"));
    EXPECT_EQ(result.exitCode, 0xFFFFFFFFu);
    EXPECT_TRUE(test::exists(targetFile));

    const auto texts = result.texts();
    const std::size_t waiting = test::indexOf(texts, L"Waiting for mutex " + mutexName);
    ASSERT_LT(waiting + 2, texts.size());
    // The system's text for ERROR_INVALID_HANDLE, then its code.
    EXPECT_TRUE(
        texts[waiting + 1].starts_with(L"Caught exception: Error creating mutex " + mutexName + L" Error message: ") &&
        texts[waiting + 1].ends_with(L". Error code 0x00000006 (6)."))
        << test::narrow(texts[waiting + 1]);
    EXPECT_EQ(texts[waiting + 2], L"Tidewell return value: -1");
    EXPECT_EQ(test::indexOf(texts, L"Finished waiting"), texts.size());
}

TEST_F(MutexWaitRun, UnusedNameIsOwnedAtOnce)
{
    const test::CRunResult result = test::runTidewell(temp.path(), test::uniqueName(L"TwMutexFresh"), arguments(L"0"));
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_FALSE(test::exists(target));

    const auto texts = result.texts();
    const std::size_t waiting = test::indexOf(texts, L"Waiting for mutex " + mutexName);
    ASSERT_LT(waiting + 2, texts.size());
    EXPECT_EQ(texts[waiting + 1], L"Finished waiting");
    EXPECT_EQ(texts[waiting + 2], L"Deleting " + target + L" now.");
}

TEST_F(MutexWaitRun, MutexIsKeptUntilTheProcessEnds)
{
    // Created here without an owner, as a setup engine does that releases it before starting the
    // run; the handle also keeps the mutex alive after the run has closed its own.
    const CUniqueHandle mutex(::CreateMutexW(nullptr, FALSE, mutexName.c_str()));
    ASSERT_TRUE(mutex.isValid());

    const std::wstring exeName = test::uniqueName(L"TwMutexKept");
    test::CProcess tidewell;
    // The second of sleep after the release is the time in which nobody else may get the mutex.
    test::start(tidewell, test::copyTidewell(temp.path(), exeName), arguments(L"1"));
    ASSERT_TRUE(test::waitUntil([&] {
        const auto texts = logTexts(exeName);
        return test::indexOf(texts, L"Finished waiting") < texts.size();
    }));

    // Granted as abandoned: the run gave back one of its two ownerships, and its end the other.
    const DWORD granted = ::WaitForSingleObject(mutex.get(), 60000);
    EXPECT_EQ(granted, static_cast<DWORD>(WAIT_ABANDONED));
    if (granted == WAIT_OBJECT_0 || granted == WAIT_ABANDONED)
    {
        ::ReleaseMutex(mutex.get());
    }
    EXPECT_EQ(tidewell.wait(), 0u);

    const auto texts = logTexts(exeName);
    const std::size_t finished = test::indexOf(texts, L"Finished waiting");
    ASSERT_LT(finished + 1, texts.size());
    EXPECT_EQ(texts[finished + 1], L"Sleeping for 1 seconds...");
    EXPECT_FALSE(test::exists(target));
}
