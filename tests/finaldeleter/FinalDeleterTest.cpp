// DeleteSelf end to end: real copies of Tidewell and their deleters. Each test ends when the
// executable is gone and everything else in the test's folder (the programs' temporary folder
// included) is as it was before the run.
#include "support/TestSupport.h"
#include "win/MoveCalls.h"
#include "win/SystemCalls.h"

#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace
{
constexpr DWORD kGoneWithinMs = 30000;
constexpr DWORD kFailed = 0xFFFFFFFF;

// A job object with the given limits, closed (and so ending its processes where it kills on
// close) when close() is called or the object goes.
class CJob
{
public:
    explicit CJob(DWORD limits) : m_job(::CreateJobObjectW(nullptr, nullptr))
    {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION information{};
        information.BasicLimitInformation.LimitFlags = limits;
        EXPECT_TRUE(
            ::SetInformationJobObject(m_job, JobObjectExtendedLimitInformation, &information, sizeof information));
    }
    ~CJob() { close(); }
    CJob(const CJob&) = delete;
    CJob& operator=(const CJob&) = delete;

    // Starts exe with arguments inside the job.
    void start(test::CProcess& process, const CFilePath& exe, const std::wstring& arguments)
    {
        test::start(process, exe, arguments, L"", CREATE_SUSPENDED);
        EXPECT_TRUE(::AssignProcessToJobObject(m_job, process.info.hProcess));
        ::ResumeThread(process.info.hThread);
    }
    void close()
    {
        if (m_job != nullptr)
        {
            ::CloseHandle(m_job);
            m_job = nullptr;
        }
    }

private:
    HANDLE m_job;
};

// The access list of an entry as SDDL ("D:...").
std::wstring accessListOf(const std::wstring& path)
{
    PACL list = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &list,
                                nullptr, &descriptor) != ERROR_SUCCESS)
    {
        return L"(unreadable)";
    }
    LPWSTR text = nullptr;
    ::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                           &text, nullptr);
    std::wstring result = text != nullptr ? text : L"";
    ::LocalFree(text);
    ::LocalFree(descriptor);
    return result;
}

bool underWine()
{
    return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// Every entry below a folder with its attributes, and for files size and time of last change.
using CTreeState = std::map<std::wstring, std::tuple<DWORD, ULONGLONG, ULONGLONG>>;

void addTree(const std::wstring& folder, CTreeState& state)
{
    WIN32_FIND_DATAW data;
    HANDLE search = ::FindFirstFileW((L"\\\\?\\" + folder + L"\\*").c_str(), &data);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = ::FindNextFileW(search, &data))
    {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..")
        {
            continue;
        }
        const std::wstring path = folder + L"\\" + name;
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        {
            // A folder changes with its entries; those are compared one by one.
            state[path] = {data.dwFileAttributes, 0, 0};
            addTree(path, state);
            continue;
        }
        state[path] = {data.dwFileAttributes, (ULONGLONG{data.nFileSizeHigh} << 32) | data.nFileSizeLow,
                       (ULONGLONG{data.ftLastWriteTime.dwHighDateTime} << 32) | data.ftLastWriteTime.dwLowDateTime};
    }
    if (search != INVALID_HANDLE_VALUE)
    {
        ::FindClose(search);
    }
}

CTreeState treeState(const std::wstring& folder)
{
    CTreeState state;
    addTree(folder, state);
    return state;
}

std::string differences(const CTreeState& expected, const CTreeState& actual)
{
    std::string text;
    for (const auto& [path, entry] : actual)
    {
        if (expected.count(path) == 0 || expected.at(path) != entry)
        {
            text += " changed or new: " + test::narrow(path);
        }
    }
    for (const auto& [path, entry] : expected)
    {
        if (actual.count(path) == 0)
        {
            text += " gone: " + test::narrow(path);
        }
    }
    return text;
}

// True when folder holds an entry whose name starts with name.
bool hasEntryOf(const std::wstring& folder, const std::wstring& name)
{
    for (const auto& [path, entry] : treeState(folder))
    {
        if (CFilePath(path).fileName().starts_with(name))
        {
            return true;
        }
    }
    return false;
}

class DeleteSelf : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const CFilePath& folder : {tempFolder, exeFolder})
        {
            test::makeFolder(folder);
        }
        makeTarget();
    }

    void makeTarget()
    {
        test::makeFolder(target);
        test::writeTextFile(target / L"file.txt");
    }

    // A copy of Tidewell named <name>.exe in folder.
    CFilePath place(const CFilePath& folder, const std::wstring& name, DWORD attributes = FILE_ATTRIBUTE_NORMAL)
    {
        CFilePath exe = test::copyTidewell(folder, name);
        ::SetFileAttributesW(exe.c_str(), attributes);
        return exe;
    }

    // Runs a placed copy with /DeleteSelf on the test's target and reads its log.
    test::CRunResult run(const CFilePath& exe, const std::wstring& more = L"")
    {
        test::CRunResult result;
        result.exitCode = test::runProgram(exe, L"/Path:\"" + target + L"\" /Wait:0 /DeleteSelf" + more);
        const CFilePath log = test::defaultLogPath(exe.fileName().withoutExtension());
        result.lines = test::readLogLines(log);
        ::DeleteFileW(log.c_str());
        return result;
    }

    // Waits until exactly the given entries (with what is inside them) have gone from the test's
    // folder and nothing else has changed there.
    void expectOnlyGone(const CTreeState& before, const std::vector<CFilePath>& gone)
    {
        CTreeState expected = before;
        std::erase_if(expected, [&](const auto& entry) {
            for (const CFilePath& path : gone)
            {
                if (entry.first == path || entry.first.starts_with(path + L"\\"))
                {
                    return true;
                }
            }
            return false;
        });
        EXPECT_TRUE(test::waitUntil([&] { return treeState(temp.path()) == expected; }, kGoneWithinMs))
            << differences(expected, treeState(temp.path()));
    }

    CTreeState state() const { return treeState(temp.path()); }

    // Waits until the log of the running copy <name>.exe has a line that starts with start.
    static bool waitForLine(const std::wstring& name, const std::wstring& start)
    {
        return test::waitUntil([&] {
            const auto texts = test::logTexts(test::defaultLogPath(name));
            return test::indexOfStart(texts, start) < texts.size();
        });
    }

    test::CTempDir temp;
    // The temporary folder of the programs the test starts, and of the test itself.
    CFilePath tempFolder = temp / L"temp folder";
    test::CTempFolderOverride tempOverride{tempFolder};
    CFilePath exeFolder = temp / L"exe folder";
    CFilePath target = temp / L"target";
};

// What once deleted another file or left the executable behind.
TEST_F(DeleteSelf, OnlyTheExecutableGoesWhereverItIsAndWhateverIsPlanted)
{
    // A folder literally named like a defined variable, and the file the expanded name points at.
    ::SetEnvironmentVariableW(L"TW_SUB", L"decoy");
    const CFilePath variableFolder = temp / L"%TW_SUB%";
    test::makeFolder(variableFolder);
    test::makeFolder(temp / L"decoy");

    const struct
    {
        const char* what;
        CFilePath folder;
        DWORD attributes;
    } cases[] = {
        {"folder with a blank", exeFolder, FILE_ATTRIBUTE_NORMAL},
        {"folder named like a variable", variableFolder, FILE_ATTRIBUTE_NORMAL},
        {"read-only executable", exeFolder, FILE_ATTRIBUTE_READONLY},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        makeTarget();
        const std::wstring name = test::uniqueName(L"TwSelf");
        place(temp / L"decoy", name);
        const CFilePath exe = place(c.folder, name, c.attributes);
        const CTreeState before = state();

        const test::CRunResult result = run(exe);
        EXPECT_EQ(result.exitCode, 0u);
        expectOnlyGone(before, {exe, target});
    }
    ::SetEnvironmentVariableW(L"TW_SUB", nullptr);
}

TEST_F(DeleteSelf, TemporaryFolderInsideTheTargetGoesWithIt)
{
    const CFilePath insideTemp = target / L"temp";
    test::makeFolder(insideTemp);
    const std::wstring name = test::uniqueName(L"TwInside");
    const CFilePath exe = place(exeFolder, name);
    const CTreeState before = state();
    test::CRunResult result;
    {
        test::CTempFolderOverride scoped(insideTemp);
        result = run(exe);
    }
    EXPECT_EQ(result.exitCode, 0u);
    const CFilePath windowsTemp = CFilePath(WinAPI::getWindowsDirectory()) / L"Temp";
    EXPECT_LT(test::indexOf(result.texts(),
                            L"The temporary folder lies in the folder to be deleted; the final "
                            L"deleter starts from " +
                                windowsTemp),
              result.texts().size());
    expectOnlyGone(before, {exe, target});
    // The deleter's own folder there went too.
    EXPECT_TRUE(test::waitUntil([&] { return !hasEntryOf(windowsTemp, name); }, kGoneWithinMs));
}

TEST_F(DeleteSelf, TwoSameNamedCopiesAtOnce)
{
    const std::wstring name = test::uniqueName(L"TwTwin");
    const CFilePath twinFolder = temp / L"twin";
    const CFilePath twinTarget = temp / L"twin target";
    test::makeFolder(twinFolder);
    test::makeFolder(twinTarget);
    const CFilePath exe = place(exeFolder, name);
    const CFilePath twin = place(twinFolder, name);
    const CTreeState before = state();

    test::CProcess first;
    test::CProcess second;
    test::start(first, exe, L"/Path:\"" + target + L"\" /Wait:1 /DeleteSelf");
    test::start(second, twin, L"/Path:\"" + twinTarget + L"\" /Wait:1 /DeleteSelf");
    EXPECT_EQ(first.wait(), 0u);
    EXPECT_EQ(second.wait(), 0u);
    ::DeleteFileW(test::defaultLogPath(name).c_str());
    expectOnlyGone(before, {exe, twin, target, twinTarget});
}

// A run that lasts longer than the deleter's time for retries: that time counts from the end of
// the run.
TEST_F(DeleteSelf, RunThatOutlivesAShortenedBound)
{
    const CFilePath exe = test::copyProgram(test::selfDeleteExe(), exeFolder, test::uniqueName(L"TwLong"));
    const CTreeState before = state();

    test::CProcess longRun;
    test::start(longRun, exe, L"\"" + exe + L"\" 1 3000");
    EXPECT_EQ(longRun.wait(), 0u);
    expectOnlyGone(before, {exe});
}

// An installer that runs its uninstall inside a job that ends every process in it when it is
// closed: the job ends the run while it waits, and the deleter, which left the job, still removes
// the executable.
TEST_F(DeleteSelf, ExecutableGoesWhenTheInstallersJobEndsTheRun)
{
    const std::wstring name = test::uniqueName(L"TwJob");
    const test::CChildHolder mutex(L"mutex", name);
    ASSERT_TRUE(mutex.holds());
    const CFilePath exe = place(exeFolder, name);
    const CTreeState before = state();

    CJob job(JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK);
    test::CProcess run;
    job.start(run, exe, L"/Path:\"" + target + L"\" /Wait:0 /DeleteSelf /WaitOnMutex:" + name);
    ASSERT_TRUE(waitForLine(name, L"Waiting for mutex "));
    job.close();
    EXPECT_EQ(::WaitForSingleObject(run.info.hProcess, kGoneWithinMs), static_cast<DWORD>(WAIT_OBJECT_0));
    ::DeleteFileW(test::defaultLogPath(name).c_str());
    expectOnlyGone(before, {exe});
}

// 259 characters: the deepest path a program can be started from under Wine.
TEST_F(DeleteSelf, DeepestStartableExecutableGoes)
{
    const std::wstring name = test::uniqueName(L"TwDeep");
    const std::size_t length = 259 - exeFolder.size() - 1 - (name.size() + 4) - 1;
    const CFilePath deepFolder = exeFolder / std::wstring(length, L'd');
    test::makeFolder(deepFolder);
    const CFilePath exe = place(deepFolder, name);
    ASSERT_EQ(exe.size(), 259u);
    const CTreeState before = state();

    const test::CRunResult result = run(exe);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_LT(test::indexOfStart(result.texts(), L"Final deleter started as a copy of the executable at "),
              result.texts().size());
    expectOnlyGone(before, {exe, target});
}

// Beyond 260 characters no program starts under Wine, so a running program starts the deleter for
// a name there of its own file (a second name), as a run does for its own executable.
TEST_F(DeleteSelf, FileDeeperThan260CharactersGoes)
{
    const std::wstring name = test::uniqueName(L"TwDeeper");
    CFilePath deepFolder = exeFolder;
    while (deepFolder.size() < 300)
    {
        deepFolder = deepFolder / std::wstring(60, L'e');
        ASSERT_TRUE(::CreateDirectoryW((L"\\\\?\\" + deepFolder).c_str(), nullptr));
    }
    const CFilePath deepFile = deepFolder / (name + L".exe");
    const CFilePath exe = test::copyProgram(test::selfDeleteExe(), exeFolder, name);
    ASSERT_TRUE(::CreateHardLinkW((L"\\\\?\\" + deepFile).c_str(), exe.c_str(), nullptr));
    const CTreeState before = state();

    test::CProcess standIn;
    test::start(standIn, exe, L"\"" + deepFile + L"\" 60 1000");
    EXPECT_EQ(standIn.wait(), 0u);
    expectOnlyGone(before, {deepFile});
    for (; deepFolder.size() > exeFolder.size(); deepFolder = deepFolder.parent())
    {
        ::RemoveDirectoryW((L"\\\\?\\" + deepFolder).c_str());
    }
}

// Nothing can be prepared when the temporary folder is missing; the run still deletes its
// folder, and only the executable stays.
TEST_F(DeleteSelf, UnpreparedDeleterNeverStopsTheRun)
{
    const test::CTempFolderOverride missingTemp(temp / L"missing");
    const std::wstring name = test::uniqueName(L"TwNoTemp");
    const CFilePath exe = place(exeFolder, name);
    const CTreeState before = state();

    const test::CRunResult result = run(exe);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_LT(test::indexOfStart(result.texts(),
                                 L"Could not start final deleter as a copy of the executable. "
                                 L"WinAPI::createHeldFolder("),
              result.texts().size());
    expectOnlyGone(before, {target});
}

// The README's promise: the executable goes even when the run fails before deleting anything.
TEST_F(DeleteSelf, ExecutableGoesWhenTheMutexCannotBeCreated)
{
    const std::wstring eventName = test::uniqueName(L"TwSelfEvent");
    const test::CChildHolder child(L"event", eventName);
    ASSERT_TRUE(child.holds());
    const std::wstring name = test::uniqueName(L"TwNoMutex");
    const CFilePath exe = place(exeFolder, name);
    const CTreeState before = state();

    const test::CRunResult result = run(exe, L" /WaitOnMutex:" + eventName);
    EXPECT_EQ(result.exitCode, kFailed);
    EXPECT_LT(test::indexOfStart(result.texts(), L"Caught exception: Error creating mutex " + eventName + L" "),
              result.texts().size());
    expectOnlyGone(before, {exe});
}

// A job that keeps its processes' children in it: the deleter runs inside it, and the log says so.
TEST_F(DeleteSelf, JobThatKeepsTheDeleterIsNamedInTheLog)
{
    const std::wstring name = test::uniqueName(L"TwInJob");
    const CFilePath exe = place(exeFolder, name);
    const CTreeState before = state();

    CJob job(JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE);
    test::CProcess run;
    job.start(run, exe, L"/Path:\"" + target + L"\" /Wait:0 /DeleteSelf");
    EXPECT_EQ(run.wait(), 0u);
    const auto texts = test::logTexts(test::defaultLogPath(name));
    ::DeleteFileW(test::defaultLogPath(name).c_str());
    const std::size_t inJob = test::indexOf(texts,
                                            L"The final deleter runs inside the job of this process, which does "
                                            L"not let it leave: it ends when the job is closed, and the "
                                            L"executable may then stay.");
    ASSERT_LT(inJob + 1, texts.size());
    EXPECT_TRUE(texts[inJob + 1].starts_with(L"Final deleter started as a copy of the executable at "));
    expectOnlyGone(before, {exe, target});
}

// While the run waits on its mutex, the copy that is to delete its executable runs from a new
// folder that only the system and the administrators may change (under Wine: no one but the
// system and the owner, see docs/platform.md), and no other process can write, rename or delete
// the copy. Nor the executable: a running program can be renamed, and another file put at its
// name would be what the deleter copies and deletes; a run that removes its executable holds it
// from its start until it ends, and then it goes.
TEST_F(DeleteSelf, RunningCopyAndExecutableCannotBeChanged)
{
    const std::wstring name = test::uniqueName(L"TwShield");
    test::CChildHolder mutex(L"mutex", name);
    ASSERT_TRUE(mutex.holds());
    const CFilePath exe = place(exeFolder, name);
    const CTreeState before = state();

    test::CProcess run;
    test::start(run, exe, L"/Path:\"" + target + L"\" /Wait:0 /DeleteSelf /WaitOnMutex:" + name);
    ASSERT_TRUE(waitForLine(name, L"Waiting for mutex "));
    const CFilePath folder = tempFolder / (name + L"." + std::to_wstring(run.info.dwProcessId));
    const CFilePath copy = folder / (name + L".exe");
    EXPECT_EQ(accessListOf(folder), underWine() ? L"D:(A;OICI;FA;;;SY)(A;OICI;FA;;;" + WinAPI::getProcessUser() + L")"
                                                : std::wstring(L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"));

    for (const CFilePath& file : {copy, exe})
    {
        SCOPED_TRACE(test::narrow(file));
        HANDLE writer =
            ::CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        if (writer != INVALID_HANDLE_VALUE)
        {
            ::CloseHandle(writer);
        }
        EXPECT_FALSE(::MoveFileW(file.c_str(), (file + L".moved").c_str()));
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        EXPECT_FALSE(::DeleteFileW(file.c_str()));
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }

    mutex.release();
    EXPECT_EQ(run.wait(), 0u);
    ::DeleteFileW(test::defaultLogPath(name).c_str());
    expectOnlyGone(before, {exe, target});
}

// The names of the deleter's folder and of its copy once it leaves the folder, planted in advance
// (a process id is easy to guess): the deleter takes names no one can know, and everything goes
// all the same.
TEST_F(DeleteSelf, NamesPlantedInAdvanceStopNothing)
{
    for (const bool copysName : {false, true})
    {
        SCOPED_TRACE(copysName ? "the copy's name beside its folder" : "the folder's names");
        makeTarget();
        const std::wstring name = test::uniqueName(L"TwPlanted");
        const CFilePath exe = place(exeFolder, name);
        test::CProcess run;
        test::start(run, exe, L"/Path:\"" + target + L"\" /Wait:0 /DeleteSelf", L"", CREATE_SUSPENDED);
        const CFilePath planted = tempFolder / (name + L"." + std::to_wstring(run.info.dwProcessId));
        if (copysName)
        {
            test::writeTextFile(planted + L".exe", "planted");
        }
        else
        {
            test::makeFolder(planted);
            for (int number = 2; number <= 100; ++number)
            {
                test::makeFolder(planted + L"." + std::to_wstring(number));
            }
        }
        const CTreeState before = state();
        ::ResumeThread(run.info.hThread);
        EXPECT_EQ(run.wait(), 0u);
        ::DeleteFileW(test::defaultLogPath(name).c_str());
        expectOnlyGone(before, {exe, target});
    }
}

// /DeleteSelf:Folder: the executable's folder goes too once the executable is gone, when nothing
// else is in it then and it is still the folder the run held (it could not be renamed while the
// run went on); never the temporary folders, nor with any other value.
TEST_F(DeleteSelf, ExecutablesFolderGoesWhenNothingElseIsInIt)
{
    enum class Where
    {
        OwnFolder,
        Temp,
        WindowsTemp,
    };
    const CFilePath windowsTemp = CFilePath(WinAPI::getWindowsDirectory()) / L"Temp";
    const struct
    {
        const char* what;
        const wchar_t* option;
        Where where;
        bool otherFile;
        // Renamed from the Linux side while the run holds it, and a new folder put at its name
        // with a second name of the executable in it.
        bool replaced;
        bool goes;
    } cases[] = {
        {"empty, the value in any letter case", L":fOLDER", Where::OwnFolder, false, false, true},
        {"another file in it", L":Folder", Where::OwnFolder, true, false, false},
        {"another value", L":Other", Where::OwnFolder, false, false, false},
        {"the temporary folder", L":Folder", Where::Temp, false, false, false},
        {"the Windows folder's Temp", L":Folder", Where::WindowsTemp, false, false, false},
        {"replaced", L":Folder", Where::OwnFolder, false, true, false},
    };
    for (const auto& c : cases)
    {
        if (c.replaced && !underWine())
        {
            continue;
        }
        SCOPED_TRACE(c.what);
        makeTarget();
        const std::wstring name = test::uniqueName(L"TwFolder");
        const CFilePath folder = c.where == Where::Temp          ? tempFolder
                                 : c.where == Where::WindowsTemp ? windowsTemp
                                                                 : temp / (name + L" folder");
        if (c.where == Where::OwnFolder)
        {
            test::makeFolder(folder);
        }
        const CFilePath exe = place(folder, name);
        if (c.otherFile)
        {
            test::writeTextFile(folder / L"other.txt");
        }
        CTreeState before = state();
        test::CChildHolder mutex(L"mutex", name);
        ASSERT_TRUE(mutex.holds());

        test::CProcess run;
        test::start(run, exe, L"/Path:\"" + target + L"\" /Wait:0 /WaitOnMutex:" + name + L" /DeleteSelf" + c.option);
        ASSERT_TRUE(waitForLine(name, L"Waiting for mutex "));
        const bool other = std::wstring(c.option) == L":Other";
        if (!other && c.where == Where::OwnFolder)
        {
            EXPECT_FALSE(::MoveFileW(folder.c_str(), (folder + L".tried").c_str()));
            EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        }
        if (c.replaced)
        {
            const std::wstring from = test::unixPath(folder);
            const CFilePath moved = folder + L".moved";
            test::startUnixProgram(L"/bin/sh -c \"mv '" + from + L"' '" + from + L".moved' && mkdir '" + from +
                                   L"' && ln '" + from + L".moved/" + name + L".exe' '" + from + L"/'\"");
            ASSERT_TRUE(test::waitUntil([&] { return test::exists(exe) && test::exists(moved); }, 5000));
            before[moved] = before[folder];
            before[moved / (name + L".exe")] = before[exe];
        }
        mutex.release();
        EXPECT_EQ(run.wait(), 0u);
        const auto texts = test::logTexts(test::defaultLogPath(name));
        ::DeleteFileW(test::defaultLogPath(name).c_str());
        const std::size_t line = test::indexOfStart(texts, L"The folder ");
        if (other)
        {
            EXPECT_EQ(line, texts.size());
        }
        else
        {
            ASSERT_LT(line, texts.size());
            const std::wstring stays = L"The folder " + folder + L" stays when the executable is gone: it is ";
            const std::wstring expected =
                c.where == Where::Temp          ? stays + L"or holds the system's folder " + tempFolder + L"."
                : c.where == Where::WindowsTemp ? stays + L"the system's folder " + windowsTemp + L"."
                                                : L"The folder " + folder +
                                                      L" goes too once the executable is "
                                                      L"gone, when nothing else is in it then.";
            // Wine names a started program's path with the letter case of its folders as stored.
            EXPECT_EQ(::CompareStringOrdinal(texts[line].c_str(), -1, expected.c_str(), -1, TRUE), CSTR_EQUAL)
                << test::narrow(texts[line]);
        }
        std::vector<CFilePath> gone{exe, target};
        if (c.goes)
        {
            gone.push_back(folder);
        }
        expectOnlyGone(before, gone);
        if (c.where == Where::WindowsTemp)
        {
            EXPECT_TRUE(test::waitUntil([&] { return !test::exists(exe); }, kGoneWithinMs));
            ::DeleteFileW(exe.c_str());
        }
    }
}

// A program that starts the deleter mode itself, with handles of its own that it hands down: on a
// process it started (the victim), the victim's program and folder, the Tidewell it starts and
// that Tidewell's folder, in the mode's arguments of today and of earlier versions; and the same
// with the victim made the mode's parent. Nothing is deleted, renamed or removed.
TEST_F(DeleteSelf, DeleterModeWithHandlesOfItsCallerDeletesNothing)
{
    const CFilePath victimFolder = temp / L"victim";
    const CFilePath modeFolder = temp / L"twp2";
    test::makeFolder(victimFolder);
    test::makeFolder(modeFolder);
    const CFilePath victimExe = test::copyProgram(test::childExe(), victimFolder, L"victim");
    const CFilePath exe = test::copyTidewell(modeFolder, L"Tidewell");
    std::optional<test::CChildHolder> victim;
    victim.emplace(L"event", test::uniqueName(L"TwVictim"), victimExe);
    ASSERT_TRUE(victim->holds());
    const CTreeState before = state();

    const HANDLE victimProcess =
        ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_DUP_HANDLE | PROCESS_CREATE_PROCESS,
                      TRUE, victim->processId());
    ASSERT_NE(victimProcess, nullptr);
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    std::vector<HANDLE> handles{victimProcess};
    for (const CFilePath& path : {exe, victimExe, modeFolder, victimFolder})
    {
        handles.push_back(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inheritable,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        ASSERT_NE(handles.back(), INVALID_HANDLE_VALUE);
    }

    std::vector<std::unique_ptr<test::CProcess>> modes;
    for (const bool victimIsParent : {false, true})
    {
        // The handles as the parent holds them.
        std::vector<HANDLE> passed = handles;
        if (victimIsParent)
        {
            for (HANDLE& handle : passed)
            {
                ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), handle, victimProcess, &handle, 0, TRUE,
                                              DUPLICATE_SAME_ACCESS));
            }
        }
        std::vector<std::wstring> texts(passed.size());
        std::transform(passed.begin(), passed.end(), texts.begin(),
                       [](HANDLE handle) { return std::to_wstring(reinterpret_cast<std::uintptr_t>(handle)); });
        const std::wstring earlier = texts[0] + L" " + texts[1] + L" " + texts[2];
        for (const std::wstring& numbers : {earlier, earlier + L" " + texts[3] + L" " + texts[4]})
        {
            std::wstring commandLine = L"\"" + exe + L"\" /_FinalDeleter " + numbers + L" 5 \"" + victimExe + L"\"";
            SIZE_T size = 0;
            ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
            std::vector<unsigned char> attributes(size);
            const auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
            ASSERT_TRUE(::InitializeProcThreadAttributeList(list, 1, 0, &size));
            HANDLE parent = victimProcess;
            if (victimIsParent)
            {
                ASSERT_TRUE(::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_PARENT_PROCESS, &parent,
                                                        sizeof parent, nullptr, nullptr));
            }
            STARTUPINFOEXW startup{};
            startup.StartupInfo.cb = sizeof startup;
            startup.lpAttributeList = list;
            modes.push_back(std::make_unique<test::CProcess>());
            EXPECT_TRUE(::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                         EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr, &startup.StartupInfo,
                                         &modes.back()->info));
            ::DeleteProcThreadAttributeList(list);
        }
    }
    // A mode that acted would now delete.
    victim.reset();
    for (const auto& mode : modes)
    {
        EXPECT_EQ(mode->wait(10000), kFailed);
    }
    for (HANDLE handle : handles)
    {
        ::CloseHandle(handle);
    }
    EXPECT_EQ(state(), before) << differences(before, state());
}

// Typed by hand, the numbers of the deleter mode name whatever handles a new process holds (under
// Wine signalled files at small values), in the mode's arguments of today and of earlier versions:
// nothing is deleted, and the mode ends with -1.
TEST_F(DeleteSelf, DeleterModeTypedByHandDeletesNothing)
{
    const CFilePath canary = temp / L"canary.txt";
    test::writeTextFile(canary);
    const CFilePath exe = place(exeFolder, test::uniqueName(L"TwByHand"));
    std::vector<std::pair<std::wstring, std::unique_ptr<test::CProcess>>> runs;
    for (int value = 4; value <= 40; value += 4)
    {
        const std::wstring handle = std::to_wstring(value) + L" ";
        for (const int count : {2, 3, 5})
        {
            std::wstring handles;
            for (int index = 0; index < count; ++index)
            {
                handles += handle;
            }
            const std::wstring arguments = L"/_FinalDeleter " + handles + L"0 \"" + canary + L"\"";
            runs.emplace_back(arguments, std::make_unique<test::CProcess>());
            test::start(*runs.back().second, exe, arguments);
        }
    }
    for (const auto& [arguments, process] : runs)
    {
        EXPECT_EQ(process->wait(10000), kFailed) << test::narrow(arguments);
    }
    EXPECT_TRUE(test::exists(canary));
}
}  // namespace
