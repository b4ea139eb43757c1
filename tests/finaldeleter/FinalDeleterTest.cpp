// DeleteSelf end to end: the real script host, real copies of Tidewell, real associations and
// settings. Each test ends when the executable is gone and everything else in the test's folder
// (the programs' temporary folder included) is as it was before the run. Some tests point the
// ".vbs" association or the script host's settings of the Wine prefix elsewhere for their
// duration; this program runs alone, so no other run of Tidewell sees the change.
#include "app/FinalDeleter.h"
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
const wchar_t* const kSettingsKey = L"Software\\Microsoft\\Windows Script Host\\Settings";
const wchar_t* const kTestClass = L"TidewellTest.ScriptClass";

// The two ways a run can take: the script host, or (with script hosting switched off) the copy.
enum class Way
{
    ScriptHost,
    Copy
};

std::string wayName(const ::testing::TestParamInfo<Way>& info)
{
    return info.param == Way::ScriptHost ? "ScriptHost" : "Copy";
}

void setDefault(const std::wstring& key, const std::wstring& value)
{
    EXPECT_EQ(::RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, REG_SZ, value.c_str(),
                                static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

// Points ".vbs" at a class of the test with the given open command (and no script engine) and
// restores the association when it goes.
class CVbsAssociation
{
public:
    explicit CVbsAssociation(const std::wstring& openCommand)
    {
        setDefault(std::wstring(kTestClass) + L"\\shell\\open\\command", openCommand);
        setDefault(L".vbs", kTestClass);
    }
    ~CVbsAssociation()
    {
        setDefault(L".vbs", L"VBSFile");
        ::RegDeleteTreeW(HKEY_CLASSES_ROOT, kTestClass);
    }
    CVbsAssociation(const CVbsAssociation&) = delete;
    CVbsAssociation& operator=(const CVbsAssociation&) = delete;
};

// Script hosting switched off for the user while the object lives.
class CScriptHostingOff
{
public:
    CScriptHostingOff()
    {
        EXPECT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, kSettingsKey, L"Enabled", REG_SZ, L"0", 2 * sizeof(wchar_t)),
                  ERROR_SUCCESS);
    }
    ~CScriptHostingOff() { ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kSettingsKey, L"Enabled"); }
    CScriptHostingOff(const CScriptHostingOff&) = delete;
    CScriptHostingOff& operator=(const CScriptHostingOff&) = delete;
};

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
    const std::wstring result = text != nullptr ? text : L"";
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

class SelfDeletion : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const CFilePath& folder : {tempFolder, exeFolder, target})
        {
            test::makeFolder(folder);
        }
        test::writeTextFile(target / L"file.txt");
    }

    // A copy of Tidewell named <name>.exe in folder.
    CFilePath place(const CFilePath& folder, const std::wstring& name, DWORD attributes = FILE_ATTRIBUTE_NORMAL)
    {
        const CFilePath exe = test::copyTidewell(folder, name);
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

class DeleteSelf : public SelfDeletion, public ::testing::WithParamInterface<Way>
{
protected:
    void SetUp() override
    {
        SelfDeletion::SetUp();
        if (GetParam() == Way::Copy)
        {
            hostingOff.emplace();
        }
    }

    std::optional<CScriptHostingOff> hostingOff;
};

INSTANTIATE_TEST_SUITE_P(Ways, DeleteSelf, ::testing::Values(Way::ScriptHost, Way::Copy), wayName);

// What once ran a planted program, deleted another file or left the executable behind.
TEST_P(DeleteSelf, OnlyTheExecutableGoesWhereverItIsAndWhateverIsPlanted)
{
    const CFilePath marker = temp / L"planted program ran";
    for (const wchar_t* planted : {L"ping.bat", L"ping.cmd"})
    {
        test::writeTextFile(tempFolder / planted, "@echo ran > \"" + test::narrow(marker) + "\"\r\n");
    }
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
        test::makeFolder(target);
        test::writeTextFile(target / L"file.txt");
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

TEST_P(DeleteSelf, TemporaryFolderInsideTheTargetGoesWithIt)
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
    EXPECT_LT(test::indexOf(result.texts(), L"The temporary folder lies in the folder to be deleted; the final "
                                            L"deleter starts from " + windowsTemp),
              result.texts().size());
    expectOnlyGone(before, {exe, target});
    // The deleter's own folder there went too.
    EXPECT_TRUE(test::waitUntil([&] { return !hasEntryOf(windowsTemp, name); },
                                kGoneWithinMs));
}

TEST_P(DeleteSelf, TwoSameNamedCopiesAtOnce)
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

// The deleter is started for a run of another copy that lasts longer than the deleter's time
// for retries: that time counts from the end of the run.
TEST_P(DeleteSelf, RunThatOutlivesAShortenedBound)
{
    const std::wstring name = test::uniqueName(L"TwLong");
    const CFilePath exe = place(exeFolder, name);
    const CTreeState before = state();

    test::CProcess longRun;
    test::start(longRun, exe, L"/Path:\"" + target + L"\" /Wait:3");
    startFinalDeleter({exe, longRun.info.dwProcessId, longRun.info.hProcess, 1, WinAPI::getTempPath()});
    EXPECT_EQ(longRun.wait(), 0u);
    ::DeleteFileW(test::defaultLogPath(name).c_str());
    expectOnlyGone(before, {exe, target});
}

// An installer that runs its uninstall inside a job that ends every process in it when it is
// closed: the job ends the run while it waits, and the deleter, which left the job, still removes
// the executable.
TEST_P(DeleteSelf, ExecutableGoesWhenTheInstallersJobEndsTheRun)
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

// A scanner or an editor holding the script name of earlier versions changes nothing.
TEST_F(SelfDeletion, BusyOldScriptFileStopsNothing)
{
    const std::wstring name = test::uniqueName(L"TwBusy");
    const CFilePath oldScript = tempFolder / (name + L".vbs");
    test::writeTextFile(oldScript, "old script");
    const test::CChildHolder holder(L"hold", oldScript);
    ASSERT_TRUE(holder.holds());
    const CFilePath exe = place(exeFolder, name);
    const CTreeState before = state();

    const test::CRunResult result = run(exe);
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_LT(test::indexOfStart(result.texts(),
                                 L"Final deleter started successfully at " + tempFolder + L"\\" + name + L"."),
              result.texts().size());
    expectOnlyGone(before, {exe, target});
}

// The association names an editor (here tw_child, which would record that it ran) and no script
// engine: the host is still the system's, which finds no engine and ends; the copy takes over.
TEST_F(SelfDeletion, EditorAsTheVbsAssociationNeverRuns)
{
    const CFilePath record = temp / L"editor ran";
    const CVbsAssociation association(L"\"" + test::childExe() + L"\" record \"" + record + L"\" \"%1\"");
    const std::wstring name = test::uniqueName(L"TwEditor");
    const CFilePath exe = place(exeFolder, name);
    const CTreeState before = state();

    const test::CRunResult result = run(exe);
    EXPECT_EQ(result.exitCode, 0u);
    const auto texts = result.texts();
    const std::size_t failed = test::indexOf(
        texts, L"Could not start final deleter. The script host ended with exit code 1 without running the script.");
    ASSERT_LT(failed + 1, texts.size());
    EXPECT_TRUE(texts[failed + 1].starts_with(L"Final deleter started as a copy of the executable at " + tempFolder));
    expectOnlyGone(before, {exe, target});
}

// 259 characters: the deepest path a program can be started from under Wine, and already beyond
// the script host's file functions.
TEST_F(SelfDeletion, DeepestStartableExecutableGoesByTheCopy)
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
    const auto texts = result.texts();
    const std::size_t refused = test::indexOf(
        texts, L"Could not start final deleter. The path of the executable is too long for the script host.");
    ASSERT_LT(refused + 1, texts.size());
    EXPECT_TRUE(texts[refused + 1].starts_with(L"Final deleter started as a copy of the executable at "));
    expectOnlyGone(before, {exe, target});
}

// Beyond 260 characters no program starts under Wine, so the deleter is started for a name there
// of a running copy (a second name of its file), as a run would for its own executable.
TEST_F(SelfDeletion, FileDeeperThan260CharactersGoes)
{
    const std::wstring name = test::uniqueName(L"TwDeeper");
    CFilePath deepFolder = exeFolder;
    while (deepFolder.size() < 300)
    {
        deepFolder = deepFolder / std::wstring(60, L'e');
        ASSERT_TRUE(::CreateDirectoryW((L"\\\\?\\" + deepFolder).c_str(), nullptr));
    }
    const CFilePath deepFile = deepFolder / (name + L".exe");
    const CFilePath exe = place(exeFolder, name);
    ASSERT_TRUE(::CreateHardLinkW((L"\\\\?\\" + deepFile).c_str(), exe.c_str(), nullptr));
    const CTreeState before = state();

    test::CProcess standIn;
    test::start(standIn, exe, L"/Path:\"" + target + L"\" /Wait:1");
    startFinalDeleter({deepFile, standIn.info.dwProcessId, standIn.info.hProcess, kRetrySeconds, WinAPI::getTempPath()});
    EXPECT_EQ(standIn.wait(), 0u);
    ::DeleteFileW(test::defaultLogPath(name).c_str());
    expectOnlyGone(before, {deepFile, target});
    for (; deepFolder.size() > exeFolder.size(); deepFolder = deepFolder.parent())
    {
        ::RemoveDirectoryW((L"\\\\?\\" + deepFolder).c_str());
    }
}

// Nothing can be prepared when the temporary folder is missing; the run still deletes its
// folder, and only the executable stays.
TEST_F(SelfDeletion, UnpreparedDeleterNeverStopsTheRun)
{
    const test::CTempFolderOverride missingTemp(temp / L"missing");
    const std::wstring name = test::uniqueName(L"TwNoTemp");
    const CFilePath exe = place(exeFolder, name);
    const CTreeState before = state();

    const test::CRunResult result = run(exe);
    EXPECT_EQ(result.exitCode, 0u);
    const auto texts = result.texts();
    EXPECT_LT(test::indexOfStart(texts, L"Could not prepare final deleter. WinAPI::createHeldFolder("), texts.size());
    EXPECT_LT(test::indexOfStart(texts, L"Could not start final deleter as a copy of the executable. "), texts.size());
    expectOnlyGone(before, {target});
}

// The README's promise: the executable goes even when the run fails before deleting anything.
TEST_F(SelfDeletion, ExecutableGoesWhenTheMutexCannotBeCreated)
{
    const std::wstring eventName = test::uniqueName(L"TwSelfEvent");
    const test::CChildHolder child(L"event", eventName);
    ASSERT_TRUE(child.holds());
    const std::wstring name = test::uniqueName(L"TwNoMutex");
    const CFilePath exe = place(exeFolder, name);
    const CTreeState before = state();

    const test::CRunResult result = run(exe, L" /WaitOnMutex:" + eventName);
    EXPECT_EQ(result.exitCode, 0xFFFFFFFFu);
    EXPECT_LT(test::indexOfStart(result.texts(), L"Caught exception: Error creating mutex " + eventName + L" "),
              result.texts().size());
    expectOnlyGone(before, {exe});
}

// A job that keeps its processes' children in it: the deleter runs inside it, and the log says so.
TEST_F(SelfDeletion, JobThatKeepsTheDeleterIsNamedInTheLog)
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
    EXPECT_TRUE(texts[inJob + 1].starts_with(L"Final deleter started successfully at "));
    expectOnlyGone(before, {exe, target});
}

// While the run waits on its mutex, the copy that is to delete its executable runs from a new
// folder that only the system and the administrators may change (under Wine: no one but the
// system and the owner, see docs/platform.md), and no other process can write, rename or delete
// the copy.
TEST_F(SelfDeletion, RunningCopyCannotBeChanged)
{
    const CScriptHostingOff hostingOff;
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

    HANDLE writer = ::CreateFileW(copy.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    if (writer != INVALID_HANDLE_VALUE)
    {
        ::CloseHandle(writer);
    }
    EXPECT_FALSE(::MoveFileW(copy.c_str(), (folder / L"moved.exe").c_str()));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(::DeleteFileW(copy.c_str()));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

    mutex.release();
    EXPECT_EQ(run.wait(), 0u);
    ::DeleteFileW(test::defaultLogPath(name).c_str());
    expectOnlyGone(before, {exe, target});
}

// A running program can be renamed: someone renames the executable while the run waits and puts
// a file of his own at its name. The copy deletes the file the run identified when it started the
// copy, or nothing (when it finds the name changed before it runs, or under Wine, which opens a
// file again by its old name), never the file that took the name.
TEST_F(SelfDeletion, FileThatTakesTheExecutablesNameStays)
{
    const CScriptHostingOff hostingOff;
    const std::wstring name = test::uniqueName(L"TwSwap");
    test::CChildHolder mutex(L"mutex", name);
    ASSERT_TRUE(mutex.holds());
    const CFilePath exe = place(exeFolder, name);

    test::CProcess run;
    test::start(run, exe, L"/Path:\"" + target + L"\" /Wait:0 /DeleteSelf /WaitOnMutex:" + name);
    ASSERT_TRUE(waitForLine(name, L"Waiting for mutex "));
    ASSERT_TRUE(::MoveFileW(exe.c_str(), (exe + L".renamed").c_str()));
    test::writeTextFile(exe, "someone else's");
    mutex.release();
    EXPECT_EQ(run.wait(), 0u);
    ::DeleteFileW(test::defaultLogPath(name).c_str());
    // The copy has ended when its file is gone, from its folder or beside it.
    const CFilePath folder = tempFolder / (name + L"." + std::to_wstring(run.info.dwProcessId));
    EXPECT_TRUE(test::waitUntil(
        [&] { return !test::exists(folder / (name + L".exe")) && !test::exists(folder + L".exe"); }, kGoneWithinMs));
    EXPECT_EQ(test::readBytes(exe), "someone else's");
}

// Typed by hand, the numbers of the deleter mode name whatever handles a new process holds (under
// Wine signalled files at small values), in the mode's arguments of today and of earlier versions:
// nothing is deleted, and the mode ends with -1.
TEST_F(SelfDeletion, DeleterModeTypedByHandDeletesNothing)
{
    const CFilePath canary = temp / L"canary.txt";
    test::writeTextFile(canary);
    const CFilePath exe = place(exeFolder, test::uniqueName(L"TwByHand"));
    std::vector<std::pair<std::wstring, std::unique_ptr<test::CProcess>>> runs;
    for (int value = 4; value <= 40; value += 4)
    {
        const std::wstring handle = std::to_wstring(value) + L" ";
        for (const std::wstring& handles : {handle + handle, handle + handle + handle})
        {
            const std::wstring arguments = L"/_FinalDeleter " + handles + L"0 \"" + canary + L"\"";
            runs.emplace_back(arguments, std::make_unique<test::CProcess>());
            test::start(*runs.back().second, exe, arguments);
        }
    }
    for (const auto& [arguments, process] : runs)
    {
        EXPECT_EQ(process->wait(10000), 0xFFFFFFFFu) << test::narrow(arguments);
    }
    EXPECT_TRUE(test::exists(canary));
}
}  // namespace
