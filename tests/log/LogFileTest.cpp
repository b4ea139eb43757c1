#include "log/LogFile.h"

#include "win/SystemCalls.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cwctype>
#include <map>
#include <memory>
#include <set>

namespace
{
void makeLogs(const test::CTempDir& dir, std::initializer_list<const wchar_t*> names)
{
    for (const wchar_t* name : names)
    {
        test::writeTextFile(dir / name, std::string(name, name + std::wcslen(name)));
    }
}

// Which file holds which original content, by file name.
std::map<std::wstring, std::string> contents(const test::CTempDir& dir)
{
    std::map<std::wstring, std::string> result;
    WIN32_FIND_DATAW data;
    HANDLE search = ::FindFirstFileW((dir / L"*").c_str(), &data);
    do
    {
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        {
            result[data.cFileName] = test::readBytes(dir / data.cFileName);
        }
    } while (::FindNextFileW(search, &data));
    ::FindClose(search);
    return result;
}

CTraceConfig withBackups(std::uint32_t maxBackup)
{
    CTraceConfig settings;
    settings.MaxBackup = maxBackup;
    return settings;
}
}  // namespace

TEST(LogBackups, RotationMovesEachFileOneUpToTheLimit)
{
    using CFiles = std::map<std::wstring, std::string>;
    const struct
    {
        const char* what;
        std::initializer_list<const wchar_t*> files;
        const wchar_t* log;
        std::uint32_t maxBackup;
        CFiles expected;
    } cases[] = {
        {"full chain: the oldest goes",
         {L"tool.log", L"tool1.log", L"tool2.log", L"tool3.log", L"tool4.log", L"tool5.log", L"tool6.log", L"tool7.log",
          L"tool8.log", L"tool9.log"},
         L"tool.log",
         9,
         {{L"tool1.log", "tool.log"},
          {L"tool2.log", "tool1.log"},
          {L"tool3.log", "tool2.log"},
          {L"tool4.log", "tool3.log"},
          {L"tool5.log", "tool4.log"},
          {L"tool6.log", "tool5.log"},
          {L"tool7.log", "tool6.log"},
          {L"tool8.log", "tool7.log"},
          {L"tool9.log", "tool8.log"}}},
        {"a gap ends the chain",
         {L"tool.log", L"tool1.log", L"tool3.log"},
         L"tool.log",
         9,
         {{L"tool1.log", "tool.log"}, {L"tool2.log", "tool1.log"}, {L"tool3.log", "tool3.log"}}},
        {"no backups", {L"tool.log", L"tool1.log"}, L"tool.log", 0, {{L"tool.log", "tool.log"}}},
        {"one backup", {L"tool.log", L"tool1.log"}, L"tool.log", 1, {{L"tool1.log", "tool.log"}}},
        {"trailing digits are replaced",
         {L"setup32.log", L"setup1.log"},
         L"setup32.log",
         9,
         {{L"setup1.log", "setup32.log"}, {L"setup2.log", "setup1.log"}}},
        {"a name of digits only", {L"123.log"}, L"123.log", 9, {{L"1.log", "123.log"}}},
    };
    for (const auto& c : cases)
    {
        test::CTempDir dir;
        makeLogs(dir, c.files);
        rotateBackups(withBackups(c.maxBackup), dir / c.log, 1);
        EXPECT_EQ(contents(dir), c.expected) << c.what;
    }
}

TEST(LogFileOpen, NewFileKeepsTheOldOneAsBackupAndAppendContinues)
{
    test::CTempDir dir;
    makeLogs(dir, {L"tool.log"});
    CTraceConfig settings;
    {
        const CUniqueFile file = openLogFile(settings, dir / L"tool.log", true).file;
        ASSERT_TRUE(file.isValid());
    }
    EXPECT_EQ(test::readBytes(dir / L"tool1.log"), "tool.log");
    EXPECT_EQ(test::readBytes(dir / L"tool.log"), "");

    test::writeTextFile(dir / L"tool.log", "old");
    settings.appendMode = true;
    {
        const CUniqueFile file = openLogFile(settings, dir / L"tool.log", true).file;
        ASSERT_TRUE(file.isValid());
    }
    EXPECT_EQ(test::readBytes(dir / L"tool.log"), "old");
    EXPECT_EQ(test::readBytes(dir / L"tool1.log"), "tool.log");
    EXPECT_FALSE(openLogFile(settings, dir / L"missing\\tool.log", true).file.isValid());
}

TEST(LogFileOpen, SyncMutexIsSharedByEveryWriterOfOnePath)
{
    EXPECT_EQ(syncMutexName(L"C:\\a/b?c*d.log"), L"QOR_TAV_LOG_SYNC_C__a_b_c_d.log");
    // Long paths still get a usable name of their own.
    const std::wstring folder = L"C:\\" + std::wstring(300, L'f');
    const std::wstring longName = syncMutexName(folder + L"\\a.log");
    EXPECT_EQ(longName.size(), static_cast<std::size_t>(MAX_PATH - 1));
    EXPECT_TRUE(longName.starts_with(L"QOR_TAV_LOG_SYNC_C__fff"));
    EXPECT_NE(longName, syncMutexName(folder + L"\\b.log"));
    bool longExisted = true;
    EXPECT_TRUE(createSyncMutex(folder + L"\\" + test::uniqueName(L"a") + L".log", longExisted).isValid());
    const std::wstring path = L"C:\\" + test::uniqueName(L"log") + L".log";
    bool existed = true;
    const CUniqueHandle first = createSyncMutex(path, existed);
    ASSERT_TRUE(first.isValid());
    EXPECT_FALSE(existed);
    const CUniqueHandle second = createSyncMutex(path, existed);
    EXPECT_TRUE(existed);
    // Not owned on creation: another thread can take it at once.
    DWORD waited = WAIT_FAILED;
    std::thread([&] {
        HANDLE mutex = ::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, syncMutexName(path).c_str());
        waited = ::WaitForSingleObject(mutex, 0);
        ::ReleaseMutex(mutex);
        ::CloseHandle(mutex);
    }).join();
    EXPECT_EQ(waited, WAIT_OBJECT_0);
}

TEST(LogFolder, UnusableFolderFallsBackToTheWindowsFolder)
{
    CTraceConfig settings;
    settings.TargetDir = L"R:\\logs";
    EXPECT_EQ(checkLogFolder(settings).TargetDir, WinAPI::getWindowsDirectory());
    test::CTempDir dir;
    settings.TargetDir = dir / L"a\\b";
    EXPECT_EQ(checkLogFolder(settings).TargetDir, dir / L"a\\b");
    EXPECT_TRUE(test::exists(dir / L"a\\b"));
}

TEST(LogSharing, FourProcessesAppendWholeLinesToOneFile)
{
    constexpr int kWriters = 4;
    constexpr int kLines = 200;
    test::CTempDir dir;
    const std::wstring name = test::uniqueName(L"writer") + L"x";
    const CFilePath exe = test::copyProgram(test::logWriterExe(), dir.path(), name);
    const CFilePath log = test::defaultLogPath(name);
    test::writeTextFile(log, "an older log");

    test::CEvent go(L"go");
    std::vector<std::unique_ptr<test::CEvent>> ready;
    std::vector<std::unique_ptr<test::CProcess>> writers;
    for (int i = 0; i < kWriters; ++i)
    {
        ready.push_back(std::make_unique<test::CEvent>(L"ready"));
        writers.push_back(std::make_unique<test::CProcess>());
        // Started one after another, each opening the log before the next starts.
        test::start(*writers.back(), exe, std::to_wstring(kLines) + L" " + ready.back()->name() + L" " + go.name());
        ASSERT_TRUE(ready.back()->wait());
    }
    go.set();
    std::set<DWORD> processIds;
    for (auto& writer : writers)
    {
        processIds.insert(::GetProcessId(writer->info.hProcess));
        EXPECT_EQ(writer->wait(), 0u);
    }

    const std::vector<std::wstring> lines = test::readLogLines(log);
    EXPECT_EQ(test::headerRulers(lines), 2u) << "one header block";
    std::map<DWORD, int> nextLine;
    int logLines = 0;
    for (const std::wstring& line : lines)
    {
        if (!test::isLogLine(line))
        {
            continue;
        }
        ++logLines;
        ASSERT_EQ(line.substr(8, 17), L"   TwWriter  1   ");
        unsigned long pid = 0;
        int number = -1;
        ASSERT_EQ(std::swscanf(test::lineText(line).c_str(), L"line %lu %d", &pid, &number), 2);
        ASSERT_EQ(processIds.count(pid), 1u);
        EXPECT_EQ(number, nextLine[pid]++) << "lines of one process in order, none lost or doubled";
    }
    EXPECT_EQ(logLines, kWriters * kLines);
    EXPECT_EQ(test::readBytes(CFilePath(log.parent()) / (name + L"1.log")), "an older log");
    ::DeleteFileW(log.c_str());
    ::DeleteFileW((CFilePath(log.parent()) / (name + L"1.log")).c_str());
}

TEST(LogReopen, OlderFileMovesAlongWithoutASecondHeader)
{
    test::CTempDir dir;
    const std::wstring name = test::uniqueName(L"writer");
    const CFilePath exe = test::copyProgram(test::logWriterExe(), dir.path(), name);
    const CFilePath moved = dir / L"moved.log";
    EXPECT_EQ(test::runProgram(exe, L"reopen \"" + moved + L"\""), 0u);
    EXPECT_FALSE(test::exists(test::defaultLogPath(name)));
    EXPECT_EQ(test::headerRulers(test::readLogLines(moved)), 2u);
    EXPECT_EQ(test::logTexts(moved), (std::vector<std::wstring>{L"before", L"after"}));
}

namespace
{
// A copy of the log writer with a configuration file beside it that puts its log into folder.
CFilePath writerWithLogFolder(const test::CTempDir& dir, const std::wstring& name, const std::wstring& folder,
                              const std::string& moreSettings = "")
{
    CFilePath exe = test::copyProgram(test::logWriterExe(), dir.path(), name);
    test::writeTextFile(dir / L"MxQorSetup.cfg",
                        "[Trace]\r\nTargetDir=" + std::string(folder.begin(), folder.end()) + "\r\n" + moreSettings);
    return exe;
}

}  // namespace

// The log there says why: the log file held without sharing (and without backups it cannot move
// aside), or a backup held by a viewer that shares all but deleting, so the older files cannot
// move up.
TEST(LogFolder, FileThatCannotBeOpenedGoesToTheTemporaryFolder)
{
    const struct
    {
        const char* what;
        const wchar_t* heldName;
        DWORD sharing;
        const char* settings;
    } cases[] = {
        {"the log", L".log", 0, "MaxBackup=0\r\n"},
        {"its first backup", L"1.log", FILE_SHARE_READ | FILE_SHARE_WRITE, ""},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        test::CTempDir dir;
        test::CTempDir logs;
        const std::wstring name = test::uniqueName(L"writer") + L"x";
        test::writeTextFile(logs / (name + L".log"), "older");
        test::writeTextFile(logs / (name + c.heldName), "held");
        const CUniqueFile held(::CreateFileW((logs / (name + c.heldName)).c_str(), GENERIC_READ, c.sharing, nullptr,
                                             OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held.isValid());
        const CFilePath exe = writerWithLogFolder(dir, name, logs.path(), c.settings);
        test::CTempDir temp;
        {
            test::CTempFolderOverride scoped(temp.path());
            EXPECT_EQ(test::runProgram(exe, L"1 - -"), 0u);
        }
        const std::vector<std::wstring> texts = test::logTexts(temp / (name + L".log"));
        ASSERT_EQ(texts.size(), 2u);
        EXPECT_TRUE(texts[0].starts_with(L"The log file " + logs / (name + L".log") + L" could not be opened: "))
            << test::narrow(texts[0]);
        EXPECT_TRUE(texts[1].starts_with(L"line "));
    }
}

TEST(LogFolder, FolderThatCannotBeMadeGoesToTheWindowsFolder)
{
    test::CTempDir dir;
    const std::wstring name = test::uniqueName(L"writer") + L"x";
    const CFilePath exe = writerWithLogFolder(dir, name, L"R:\\logs");
    EXPECT_EQ(test::runProgram(exe, L"1 - -"), 0u);
    const CFilePath log = CFilePath(WinAPI::getWindowsDirectory()) / (name + L".log");
    const std::vector<std::wstring> texts = test::logTexts(log);
    ::DeleteFileW(log.c_str());
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_TRUE(texts[0].starts_with(L"line "));
}

TEST(LogBackups, LogNamedLikeItsFirstBackupKeepsEveryRun)
{
    // <name>1.log would be its own backup 1: the backups are 2, 3 and so on.
    test::CTempDir dir;
    test::CTempDir logs;
    const std::wstring stem = test::uniqueName(L"setup") + L"x";
    const CFilePath exe = writerWithLogFolder(dir, stem + L"1", logs.path());
    for (const wchar_t* run : {L"run1", L"run2", L"run3", L"run4"})
    {
        EXPECT_EQ(test::runProgram(exe, std::wstring(L"1 - - ") + run + L" repeat"), 0u);
    }
    const std::pair<std::wstring, std::wstring> expected[] = {
        {L"1", L"run4"}, {L"2", L"run3"}, {L"3", L"run2"}, {L"4", L"run1"}};
    for (const auto& [number, text] : expected)
    {
        EXPECT_EQ(test::logTexts(logs / (stem + number + L".log")), std::vector<std::wstring>{text})
            << test::narrow(number);
    }
}

TEST(LogSharing, RelativeLogPathsInTwoFoldersAreTwoFiles)
{
    // An empty folder setting: each run logs into its current directory.
    test::CTempDir dir;
    test::CTempDir first;
    test::CTempDir second;
    const std::wstring name = test::uniqueName(L"writer") + L"x";
    const CFilePath exe = writerWithLogFolder(dir, name, L"");
    test::writeTextFile(second / (name + L".log"), "an older log");
    test::CEvent ready(L"ready");
    test::CEvent go(L"go");
    test::CProcess running;
    test::start(running, exe, L"1 " + ready.name() + L" " + go.name(), first.path());
    ASSERT_TRUE(ready.wait());
    test::CProcess other;
    test::start(other, exe, L"1 - -", second.path());
    EXPECT_EQ(other.wait(), 0u);
    go.set();
    EXPECT_EQ(running.wait(), 0u);

    EXPECT_EQ(test::readBytes(second / (name + L"1.log")), "an older log");
    EXPECT_EQ(test::headerRulers(test::readLogLines(second / (name + L".log"))), 2u) << "a header of its own";
}

TEST(LogSharing, WriterHangingWithTheSyncMutexDoesNotHoldUpTheLines)
{
    test::CTempDir dir;
    test::CTempDir logs;
    const std::wstring name = test::uniqueName(L"writer") + L"x";
    const CFilePath exe = writerWithLogFolder(dir, name, logs.path());
    const CFilePath log = logs / (name + L".log");
    test::CChildHolder hung(L"mutex", syncMutexName(log));
    ASSERT_TRUE(hung.holds());
    EXPECT_EQ(test::runProgram(exe, L"2 - -"), 0u);
    hung.release();

    const std::vector<std::wstring> texts = test::logTexts(log);
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_TRUE(texts[0].starts_with(L"Another writer has held this log file's sync mutex")) << test::narrow(texts[0]);
    EXPECT_TRUE(texts[1].starts_with(L"line ") && texts[2].starts_with(L"line "));
}

TEST(LogSharing, TwoSpellingsOfOneLogFolderShareOneFile)
{
    test::CTempDir first;
    test::CTempDir second;
    test::CTempDir logs;
    const std::wstring name = test::uniqueName(L"writer") + L"x";
    // The same folder in another letter case and with a doubled separator.
    std::wstring otherSpelling = logs.path();
    for (wchar_t& c : otherSpelling)
    {
        c = static_cast<wchar_t>(std::towupper(c));
    }
    otherSpelling.insert(otherSpelling.rfind(L'\\'), L"\\");
    const CFilePath running = writerWithLogFolder(first, name, logs.path());
    const CFilePath other = writerWithLogFolder(second, name, otherSpelling);
    test::CEvent ready(L"ready");
    test::CEvent go(L"go");
    test::CProcess firstWriter;
    test::start(firstWriter, running, L"1 " + ready.name() + L" " + go.name() + L" first");
    ASSERT_TRUE(ready.wait());
    EXPECT_EQ(test::runProgram(other, L"1 - - second"), 0u);
    go.set();
    EXPECT_EQ(firstWriter.wait(), 0u);

    const std::vector<std::wstring> lines = test::readLogLines(logs / (name + L".log"));
    EXPECT_EQ(test::headerRulers(lines), 2u) << "one header";
    EXPECT_FALSE(test::exists(logs / (name + L"1.log"))) << "the live log was never rotated away";
    std::vector<std::wstring> texts;
    for (const std::wstring& text : test::logTexts(logs / (name + L".log")))
    {
        texts.push_back(text.substr(0, text.find(L' ')));
    }
    EXPECT_EQ(texts, (std::vector<std::wstring>{L"second", L"first"}));
}

TEST(LogLinks, LinksAtTheLogsNamesAreNeverWrittenMovedOrDeleted)
{
    const struct
    {
        const char* what;
        std::initializer_list<const wchar_t*> plainFiles;
        const wchar_t* link;
        const char* maxBackup;
        bool ownMutex;
        const wchar_t* logLandsIn;
    } cases[] = {
        {"at the log's name", {}, L".log", "9", false, L" (2).log"},
        {"at the log's name, its sync mutex made beforehand", {}, L".log", "9", true, L" (2).log"},
        {"at the first backup's name", {L".log"}, L"1.log", "9", false, L".log"},
        {"at the oldest backup's name", {L".log"}, L"1.log", "1", false, L".log"},
        {"at the log's name, leading nowhere", {}, L".log", "9", false, L" (2).log"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        test::CTempDir dir;
        test::CTempDir logs;
        test::CTempDir outside;
        const CFilePath canary = outside / L"precious.txt";
        test::writeTextFile(canary, "precious");
        const std::wstring name = test::uniqueName(L"writer") + L"x";
        for (const wchar_t* file : c.plainFiles)
        {
            test::writeTextFile(logs / (name + file), "an older log");
        }
        const bool dangling = std::string(c.what).ends_with("nowhere");
        test::makeUnixLink(logs / (name + c.link), dangling ? outside / L"nothing.txt" : canary);
        // Another user of the machine can make the mutex that the log's name gives.
        const CUniqueHandle mutex(
            c.ownMutex ? ::CreateMutexW(nullptr, FALSE, syncMutexName(logs / (name + L".log")).c_str()) : nullptr);
        const CFilePath exe = writerWithLogFolder(dir, name, logs.path(), std::string("MaxBackup=") + c.maxBackup);
        EXPECT_EQ(test::runProgram(exe, L"1 - -"), 0u);

        EXPECT_EQ(test::readBytes(canary), "precious");
        EXPECT_FALSE(test::exists(outside / L"nothing.txt")) << "nothing made through the link";
        if (!dangling)
        {
            EXPECT_EQ(test::readBytes(logs / (name + c.link)), "precious") << "the link is still there";
        }
        const std::vector<std::wstring> texts = test::logTexts(logs / (name + c.logLandsIn));
        ASSERT_FALSE(texts.empty());
        EXPECT_TRUE(texts.back().starts_with(L"line ")) << test::narrow(texts.back());
        EXPECT_LT(test::indexOf(texts, logs / (name + c.link) + L" is no plain file of this log (a link, say): it "
                                                                L"was left alone."),
                  texts.size());
    }
}

TEST(LogLinks, LinkIntoAFolderBesideTheLogFolderWhoseNameLooksAlikeIsNoPlainFile)
{
    // Wine names "logs." as "logs": a link in the log folder to a file in "logs." would pass.
    test::CTempDir dir;
    test::CTempDir parent;
    const CFilePath logs = parent / L"logs";
    test::makeFolder(logs);
    const std::wstring twin = L"\\\\?\\" + parent / L"logs.";
    ASSERT_TRUE(::CreateDirectoryW(twin.c_str(), nullptr));
    const std::wstring name = test::uniqueName(L"writer") + L"x";
    test::writeTextFile(twin + L"\\" + name + L".log", "precious");
    test::makeUnixLink(logs / (name + L".log"), twin + L"\\" + name + L".log");
    const CFilePath exe = writerWithLogFolder(dir, name, logs, "MaxBackup=0");
    EXPECT_EQ(test::runProgram(exe, L"1 - -"), 0u);

    EXPECT_EQ(test::readBytes(twin + L"\\" + name + L".log"), "precious");
    const std::vector<std::wstring> texts = test::logTexts(logs / (name + L" (2).log"));
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], logs / (name + L".log") + L" is no plain file of this log (a link, say): it was left alone.");
    EXPECT_TRUE(texts[1].starts_with(L"line "));
}

TEST(LogSharing, SyncMutexMadeBeforehandDoesNotPutARunUnderAnotherHeader)
{
    test::CTempDir dir;
    test::CTempDir logs;
    const std::wstring name = test::uniqueName(L"writer") + L"x";
    const CFilePath exe = writerWithLogFolder(dir, name, logs.path());
    EXPECT_EQ(test::runProgram(exe, L"1 - - first"), 0u);
    // Anyone can make the mutex that the log's path names, without writing any log.
    const CUniqueHandle mutex(::CreateMutexW(nullptr, FALSE, syncMutexName(logs / (name + L".log")).c_str()));
    ASSERT_TRUE(mutex.isValid());
    EXPECT_EQ(test::runProgram(exe, L"1 - - second"), 0u);

    for (const auto& [file, first] : {std::pair{name + L".log", L"second"}, std::pair{name + L"1.log", L"first"}})
    {
        const std::vector<std::wstring> lines = test::readLogLines(logs / file);
        EXPECT_EQ(test::headerRulers(lines), 2u) << test::narrow(file);
        const std::vector<std::wstring> texts = test::logTexts(logs / file);
        ASSERT_EQ(texts.size(), 1u) << test::narrow(file);
        EXPECT_TRUE(texts[0].starts_with(first)) << test::narrow(file);
    }
}

TEST(LogSharing, WritersOfAFileWhoseSyncMutexNameIsTakenStillShareIt)
{
    test::CTempDir dir;
    test::CTempDir logs;
    const std::wstring name = test::uniqueName(L"writer") + L"x";
    const CFilePath exe = writerWithLogFolder(dir, name, logs.path());
    // An event takes the name: no writer can have the mutex.
    const CUniqueHandle squatter(::CreateEventW(nullptr, FALSE, FALSE, syncMutexName(logs / (name + L".log")).c_str()));
    ASSERT_TRUE(squatter.isValid());
    test::CEvent ready(L"ready");
    test::CEvent go(L"go");
    test::CProcess running;
    test::start(running, exe, L"1 " + ready.name() + L" " + go.name() + L" first");
    ASSERT_TRUE(ready.wait());
    EXPECT_EQ(test::runProgram(exe, L"1 - - second"), 0u);
    go.set();
    EXPECT_EQ(running.wait(), 0u);

    EXPECT_FALSE(test::exists(logs / (name + L"1.log"))) << "the live log was never rotated away";
    const std::vector<std::wstring> texts = test::logTexts(logs / (name + L".log"));
    EXPECT_EQ(test::indexOfStart(texts, L"The sync mutex of ") < texts.size(), true);
    EXPECT_LT(test::indexOfStart(texts, L"second "), texts.size());
    EXPECT_LT(test::indexOfStart(texts, L"first "), texts.size());
}
