// DeleteSelf end to end: the real script host, real copies of Tidewell, real associations and
// settings. Each test ends when the executable is gone and everything else in the test's folder
// (the programs' temporary folder included) is as it was before the run. Some tests point the
// ".vbs" association or the script host's settings of the Wine prefix elsewhere for their
// duration; this program runs alone, so no other run of Tidewell sees the change.
#include "app/FinalDeleter.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
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
    startFinalDeleter({exe, longRun.info.dwProcessId, longRun.info.hProcess, 1});
    EXPECT_EQ(longRun.wait(), 0u);
    ::DeleteFileW(test::defaultLogPath(name).c_str());
    expectOnlyGone(before, {exe, target});
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

// Beyond 260 characters no program starts under Wine, so the deleter is started for a file there
// while another copy runs, as a run would for its own executable.
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
    ASSERT_TRUE(::CopyFileW(test::tidewellExe().c_str(), (L"\\\\?\\" + deepFile).c_str(), FALSE));
    const CFilePath exe = place(exeFolder, name);
    const CTreeState before = state();

    test::CProcess standIn;
    test::start(standIn, exe, L"/Path:\"" + target + L"\" /Wait:1");
    startFinalDeleter({deepFile, standIn.info.dwProcessId, standIn.info.hProcess, kRetrySeconds});
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
    EXPECT_LT(test::indexOfStart(texts, L"Could not prepare final deleter. WinAPI::createNewFile("), texts.size());
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
}  // namespace
