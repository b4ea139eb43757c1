// The self-removal scripts and DeleteSelf, end to end: real script host, real command
// interpreter, real associations. Some tests point the ".vbs" association of the Wine prefix
// elsewhere for their duration; they all live in this one program, whose tests run one after
// another, so no other run of Tidewell sees the change.
#include "app/FinalDeleter.h"
#include "support/TestSupport.h"
#include "win/ErrorText.h"
#include "win/SystemCalls.h"

#include <gtest/gtest.h>

#include <optional>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace
{
constexpr DWORD kGoneWithinMs = 30000;
const wchar_t* const kTestClass = L"TidewellTest.ScriptClass";

// Points the ".vbs" association at a program class of the test with the given open command and
// restores the association when it goes.
class CVbsAssociation
{
public:
    explicit CVbsAssociation(const std::wstring& openCommand)
    {
        wchar_t saved[256] = L"";
        DWORD size = sizeof saved;
        if (::RegGetValueW(HKEY_CLASSES_ROOT, L".vbs", nullptr, RRF_RT_REG_SZ, nullptr, saved, &size) == ERROR_SUCCESS)
        {
            m_saved = saved;
        }
        // An interrupted run may have left the test's class in place.
        if (m_saved.empty() || m_saved == kTestClass)
        {
            m_saved = L"VBSFile";
        }
        setDefault(std::wstring(kTestClass) + L"\\shell\\open\\command", openCommand);
        setDefault(L".vbs", kTestClass);
    }
    ~CVbsAssociation()
    {
        setDefault(L".vbs", m_saved);
        ::RegDeleteTreeW(HKEY_CLASSES_ROOT, kTestClass);
    }
    CVbsAssociation(const CVbsAssociation&) = delete;
    CVbsAssociation& operator=(const CVbsAssociation&) = delete;

private:
    static void setDefault(const std::wstring& key, const std::wstring& value)
    {
        const LSTATUS status = ::RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, REG_SZ, value.c_str(),
                                                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        EXPECT_EQ(status, ERROR_SUCCESS) << "cannot set the default value of HKCR\\"
                                         << std::string(key.begin(), key.end());
    }

    std::wstring m_saved;
};

CFilePath tempScript(const std::wstring& exeName, const wchar_t* extension)
{
    return CFilePath::combine(WinAPI::getTempPath(), exeName + L"." + extension);
}

bool contains(const std::vector<std::wstring>& texts, const std::wstring& wanted)
{
    return std::find(texts.begin(), texts.end(), wanted) != texts.end();
}

std::wstring wideOf(const std::string& bytes)
{
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

// The severity of the first log line with this text.
wchar_t severityOf(const test::CRunResult& result, const std::wstring& text)
{
    for (const std::wstring& line : result.lines)
    {
        if (test::lineText(line) == text)
        {
            return test::lineSeverity(line);
        }
    }
    return L'?';
}

bool gone(const std::wstring& path)
{
    return !test::exists(path);
}

// The lines of a script text; each must end with CR LF, and no CR or LF may stand elsewhere.
std::vector<std::string> crlfLines(std::string_view text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string_view::npos; start = end + 2)
    {
        const std::string_view line = text.substr(start, end - start);
        EXPECT_EQ(line.find_first_of("\r\n"), std::string_view::npos) << "stray line break in: " << line;
        lines.emplace_back(line);
    }
    EXPECT_EQ(start, text.size()) << "the text does not end with CR LF";
    return lines;
}

bool isPureAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80 && c != '\0' && c != '\t'; });
}

// A copy of a script with one piece of its text replaced, in a file of its own.
CFilePath writeVariant(const test::CTempDir& temp, const std::wstring& fileName, std::string_view script,
                       const std::string& from, const std::string& to)
{
    std::string text(script);
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << "no " << from << " in the script";
    if (at != std::string::npos)
    {
        text.replace(at, from.size(), to);
    }
    const CFilePath path = temp / fileName;
    test::writeTextFile(path, text);
    return path;
}

}  // namespace

TEST(FinalDeleterScript, ScriptHostTextIsAsciiWithCrLfAndTheBlanksOfEachLine)
{
    EXPECT_EQ(kFinalDeleterScript.size(), kFinalDeleterScriptSize);
    EXPECT_EQ(kFinalDeleterScript.size(), 635u);
    EXPECT_TRUE(isPureAscii(kFinalDeleterScript));

    struct Line
    {
        std::size_t leading;
        const char* text;
        bool trailingBlank;
    };
    const Line expected[] = {
        {0, "ON ERROR RESUME NEXT", false},
        {0, "SET fso = CreateObject(\"Scripting.FileSystemObject\")", false},
        {0, "IF wScript.Arguments.Count = 0 THEN wScript.Quit()", false},
        {0, "fileToDelete = Wscript.Arguments(0)", false},
        {0, "startTime = Timer", false},
        {0, "FOR EACH fileToDelete in Wscript.Arguments", true},
        {7, "DO", true},
        {15, "fso.DeleteFile fileToDelete", true},
        {15, "IF fso.FileExists(fileToDelete) THEN Wscript.Sleep(5)", true},
        {15, "elapsed = Timer - startTime", true},
        {15, "IF elapsed < 0 THEN elapsed = elapsed + 86400", true},
        {15, "IF elapsed > 600 THEN EXIT DO", true},
        {7, "LOOP WHILE (fso.FileExists(fileToDelete))", true},
        {0, "NEXT", true},
        {0, "fso.DeleteFile Wscript.ScriptFullName, True", true},
        {0, "SET fso = nothing", false},
    };
    const std::vector<std::string> lines = crlfLines(kFinalDeleterScript);
    ASSERT_EQ(lines.size(), std::size(expected));
    for (std::size_t i = 0; i < lines.size(); ++i)
    {
        const std::string wanted =
            std::string(expected[i].leading, ' ') + expected[i].text + (expected[i].trailingBlank ? " " : "");
        EXPECT_EQ(lines[i], wanted) << "line " << i + 1;
    }
}

TEST(FinalDeleterScript, CommandInterpreterTextIsAsciiWithCrLfAndBounded)
{
    EXPECT_TRUE(isPureAscii(kFallbackDeleterScript));
    const std::vector<std::string> lines = crlfLines(kFallbackDeleterScript);
    ASSERT_FALSE(lines.empty());
    // Quits without an argument before anything else, deletes itself (forcing) as the very last.
    EXPECT_EQ(lines[2], "if \"%~1\"==\"\" exit /b");
    EXPECT_EQ(lines.back(), "del /f /q \"%self%\" >nul 2>&1");
    // One try a second, 600 tries in all: about ten minutes, like the script host's version.
    EXPECT_NE(std::find(lines.begin(), lines.end(), "if %tries% geq 600 goto done"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "ping -n 2 127.0.0.1 >nul 2>&1"), lines.end());
}

// The limits cannot be waited for in a test; a copy with a limit of one second (or one try) shows
// that each script really gives up on a file it can never delete, and still deletes itself.
class ScriptLimit : public ::testing::Test
{
protected:
    void SetUp() override
    {
        test::writeTextFile(heldFile);
        holder.emplace(L"hold", heldFile);
        ASSERT_TRUE(holder->holds());
    }

    void TearDown() override { holder.reset(); }

    void expectGivesUp(const CFilePath& program, const std::wstring& arguments, const CFilePath& script)
    {
        test::CProcess host;
        test::start(host, program, arguments);
        EXPECT_NE(host.wait(kGoneWithinMs), 0xDEADBEEFu) << "the script did not give up";
        EXPECT_TRUE(test::exists(heldFile));
        EXPECT_TRUE(test::waitUntil([&] { return gone(script); }, kGoneWithinMs)) << "the script is still there";
    }

    test::CTempDir temp;
    CFilePath heldFile = temp / L"held.exe";
    std::optional<test::CChildHolder> holder;
};

TEST_F(ScriptLimit, ScriptHostGivesUp)
{
    const CFilePath script = writeVariant(temp, L"limit.vbs", kFinalDeleterScript, "elapsed > 600", "elapsed > 1");
    expectGivesUp(CFilePath::combine(WinAPI::getSystemDirectory(), L"wscript.exe"),
                  L"\"" + script + L"\" \"" + heldFile + L"\"", script);
}

TEST_F(ScriptLimit, CommandInterpreterGivesUp)
{
    const CFilePath script = writeVariant(temp, L"limit.cmd", kFallbackDeleterScript, "geq 600", "geq 1");
    const CFilePath interpreter = CFilePath::combine(WinAPI::getSystemDirectory(), L"cmd.exe");
    expectGivesUp(interpreter, L"/d /s /c \"\"" + script + L"\" \"" + heldFile + L"\"\"", script);
}

class DeleteSelfRun : public ::testing::Test
{
protected:
    void SetUp() override
    {
        test::makeFolder(blankFolder);
        test::makeFolder(blankTempFolder);
        test::makeFolder(target);
        test::writeTextFile(targetFile);
    }

    std::wstring arguments(const std::wstring& more = L"") const
    {
        return L"/Path:" + target + L" /Wait:0 /DeleteSelf" + more;
    }

    test::CTempDir temp;
    CFilePath blankFolder = temp / L"with blank";
    CFilePath blankTempFolder = temp / L"temp folder";
    CFilePath target = temp / L"target";
    CFilePath targetFile = CFilePath::combine(target, L"file.txt");
};

TEST_F(DeleteSelfRun, ExecutableInAFolderWithABlankGoesAfterTheRun)
{
    const test::CTempFolderOverride blankTemp(blankTempFolder);
    const std::wstring name = test::uniqueName(L"TwSelf");
    const CFilePath exe = CFilePath::combine(blankFolder, name + L".exe");
    const CFilePath script = tempScript(name, L"vbs");

    const test::CRunResult result = test::runTidewell(blankFolder, name, arguments());
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_FALSE(test::exists(target));
    const auto texts = result.texts();
    const std::size_t started = test::indexOf(texts, L"Final deleter started successfully at " + script);
    ASSERT_LT(started, texts.size());
    ASSERT_GT(started, 0u);
    EXPECT_EQ(texts[started - 1], L"Waitime in seconds: 0");
    EXPECT_EQ(texts[started + 1], L"No Mutex supplied");

    EXPECT_TRUE(test::waitUntil([&] { return gone(exe) && gone(script); }, kGoneWithinMs))
        << "left: " << (gone(exe) ? "" : "the executable ") << (gone(script) ? "" : "the script");
}

TEST_F(DeleteSelfRun, ExecutableGoesWhenTheMutexCannotBeCreated)
{
    const std::wstring mutexName = test::uniqueName(L"TwSelfEvent");
    const test::CChildHolder child(L"event", mutexName);
    ASSERT_TRUE(child.holds());

    const std::wstring name = test::uniqueName(L"TwSelfNoMutex");
    const CFilePath exe = CFilePath::combine(blankFolder, name + L".exe");
    const CFilePath script = tempScript(name, L"vbs");
    const test::CRunResult result = test::runTidewell(blankFolder, name, arguments(L" /WaitOnMutex:" + mutexName));
    EXPECT_EQ(result.exitCode, 0xFFFFFFFFu);
    EXPECT_TRUE(test::exists(targetFile));
    const auto texts = result.texts();
    const std::size_t started = test::indexOf(texts, L"Final deleter started successfully at " + script);
    const std::size_t caught =
        test::indexOf(texts, L"Caught exception: Error creating mutex " + mutexName + L" Error message: " +
                                 WinAPI::getErrorText(ERROR_INVALID_HANDLE));
    EXPECT_LT(started, caught);
    EXPECT_LT(caught, texts.size());

    EXPECT_TRUE(test::waitUntil([&] { return gone(exe) && gone(script); }, kGoneWithinMs))
        << "left: " << (gone(exe) ? "" : "the executable ") << (gone(script) ? "" : "the script");
}

// The script host is replaced by tw_child, which records the command line the shell built from the
// launch request, and leaves the script alone so its bytes can be read.
TEST_F(DeleteSelfRun, LaunchRequestNamesTheScriptAndQuotesOnlyAPathWithABlank)
{
    const CFilePath record = temp / L"command line.txt";
    const CVbsAssociation association(L"\"" + test::childExe() + L"\" record \"" + record + L"\" \"%1\" %*");

    for (const CFilePath& folder : {blankFolder, temp.path()})
    {
        SCOPED_TRACE(std::string(folder.begin(), folder.end()));
        test::removeTree(record);
        const std::wstring name = test::uniqueName(L"TwSelfRequest");
        const CFilePath exe = CFilePath::combine(folder, name + L".exe");
        const CFilePath script = tempScript(name, L"vbs");
        // An earlier script, read-only, is replaced.
        test::writeTextFile(script, "old script");
        ASSERT_TRUE(::SetFileAttributesW(script.c_str(), FILE_ATTRIBUTE_READONLY));

        const test::CRunResult result = test::runTidewell(folder, name, arguments());
        EXPECT_EQ(result.exitCode, 0u);
        EXPECT_TRUE(contains(result.texts(), L"Final deleter started successfully at " + script));

        ASSERT_TRUE(test::waitUntil([&] { return !test::readBytes(record).empty(); }, kGoneWithinMs));
        const std::wstring commandLine = wideOf(test::readBytes(record));
        const std::wstring expectedEnd =
            L"\"" + script + L"\" " + (folder == blankFolder ? L"\"" + exe + L"\"" : std::wstring(exe));
        EXPECT_TRUE(commandLine.size() >= expectedEnd.size() &&
                    commandLine.compare(commandLine.size() - expectedEnd.size(), expectedEnd.size(), expectedEnd) == 0)
            << "command line: " << std::string(commandLine.begin(), commandLine.end());

        EXPECT_EQ(test::readBytes(script), std::string(kFinalDeleterScript));
        EXPECT_EQ(::GetFileAttributesW(script.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
        ::DeleteFileW(script.c_str());
    }
}

// A script host that cannot be started: the association names a program that does not exist, as
// when the host has been removed. The shell then fails with "file not found".
TEST_F(DeleteSelfRun, CommandInterpreterRemovesTheExecutableWhenTheScriptHostCannotStart)
{
    const CVbsAssociation association(L"\"C:\\nowhere\\missing-script-host.exe\" \"%1\" %*");
    const test::CTempFolderOverride blankTemp(blankTempFolder);
    const std::wstring name = test::uniqueName(L"TwSelfFallback");
    const CFilePath exe = CFilePath::combine(blankFolder, name + L".exe");
    const CFilePath vbsScript = tempScript(name, L"vbs");
    const CFilePath cmdScript = tempScript(name, L"cmd");

    const test::CRunResult result = test::runTidewell(blankFolder, name, arguments());
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_FALSE(test::exists(target));
    const auto texts = result.texts();
    const std::size_t failed = test::indexOf(
        texts, L"Could not start final deleter. Error message: " + WinAPI::getErrorText(ERROR_FILE_NOT_FOUND));
    ASSERT_LT(failed + 1, texts.size());
    EXPECT_EQ(severityOf(result, texts[failed]), L'E');
    EXPECT_EQ(severityOf(result, texts[failed + 1]), L' ');
    EXPECT_EQ(texts[failed + 1], L"Final deleter started with the command interpreter at " + cmdScript);
    EXPECT_FALSE(contains(texts, L"Final deleter started successfully at " + vbsScript));

    EXPECT_TRUE(test::waitUntil([&] { return gone(exe) && gone(cmdScript) && gone(vbsScript); }, kGoneWithinMs))
        << "left: " << (gone(exe) ? "" : "the executable ") << (gone(cmdScript) ? "" : "the .cmd script ")
        << (gone(vbsScript) ? "" : "the .vbs script");
}
