// Crashes of a real process: the crash program of the tests (tw_crash.exe) installs the crash
// handling the way the entry does and faults on request. Each test runs its own copy, so logs and
// dumps (named after the executable) never meet.
#include "crash/CrashReport.h"
#include "support/TestSupport.h"
#include "win/SystemCalls.h"

#include <gtest/gtest.h>

#include <cwctype>

namespace
{
const std::wstring kBanner = std::wstring(32, L'=') + L" UNHANDLED EXCEPTION " + std::wstring(32, L'=');
const std::wstring kNoticeHead = L"MxQorSetup DEBUGGER: Can't write crash trace, dbghelp.dll is too old.";
const std::wstring kParamIndent(19, L' ');
const std::wstring kRowIndent(27, L' ');
constexpr int kDigits = addressDigits(kNativeMachine);

bool sameText(const std::wstring& a, const std::wstring& b)
{
    return ::_wcsicmp(a.c_str(), b.c_str()) == 0;
}

// digits hexadecimal upper-case digits at position in text.
bool hexAt(const std::wstring& text, std::size_t position, int digits)
{
    if (text.size() < position + digits)
    {
        return false;
    }
    for (int i = 0; i < digits; ++i)
    {
        const wchar_t c = text[position + i];
        if (!std::iswdigit(c) && !(c >= L'A' && c <= L'F'))
        {
            return false;
        }
    }
    return true;
}

// The lines of one frame of the call stack.
struct CFrameLines
{
    std::wstring address;
    // The place in the module at the end of the frame line ("<module>+0x<offset>").
    std::wstring place;
    std::wstring symbol;
    std::wstring source;
    std::vector<std::wstring> params;
    // The memory rows after each parameter.
    std::vector<std::vector<std::wstring>> rows;
};

// An environment variable of this process (and so of the programs it starts) for the life of
// the object.
class CEnvironmentValue
{
public:
    CEnvironmentValue(const wchar_t* name, const std::wstring& value) : m_name(name)
    {
        ::SetEnvironmentVariableW(name, value.c_str());
    }
    ~CEnvironmentValue() { ::SetEnvironmentVariableW(m_name, nullptr); }
    CEnvironmentValue(const CEnvironmentValue&) = delete;
    CEnvironmentValue& operator=(const CEnvironmentValue&) = delete;

private:
    const wchar_t* m_name;
};

void copyInformationLibrary(const CFilePath& to)
{
    ASSERT_TRUE(::CopyFileW((test::buildFolder() / L"infolib\\MxQorTavUt.dll").c_str(), to.c_str(), FALSE));
}

// The files directly in folder.
int countFiles(const CFilePath& folder)
{
    int count = 0;
    WIN32_FIND_DATAW data{};
    const HANDLE search = ::FindFirstFileW((folder / L"*").c_str(), &data);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = ::FindNextFileW(search, &data))
    {
        count += (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ? 1 : 0;
    }
    if (search != INVALID_HANDLE_VALUE)
    {
        ::FindClose(search);
    }
    return count;
}

// The first file of folder in the order the file system lists them, which is the order the
// deletion takes them in.
CFilePath firstListedFile(const CFilePath& folder)
{
    WIN32_FIND_DATAW data{};
    const HANDLE search = ::FindFirstFileW((folder / L"*").c_str(), &data);
    std::wstring name;
    for (BOOL more = search != INVALID_HANDLE_VALUE; more && name.empty(); more = ::FindNextFileW(search, &data))
    {
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        {
            name = data.cFileName;
        }
    }
    if (search != INVALID_HANDLE_VALUE)
    {
        ::FindClose(search);
    }
    return folder / name;
}

// One run of a copy of the crash program (or of another program).
class CCrashRun
{
public:
    // The program's PDB goes beside the copy under its own name, which the program's CodeView
    // record names, unless withPdb is false.
    CCrashRun(const test::CTempDir& folder, const std::wstring& stem, const CFilePath& program = test::crashExe(),
              bool withPdb = true)
        : name(test::uniqueName(stem))
    {
        exe = test::copyProgram(program, folder.path(), name);
        if (withPdb)
        {
            const CFilePath pdb = program.withExtension(L"pdb");
            EXPECT_TRUE(::CopyFileW(pdb.c_str(), (folder / pdb.fileName()).c_str(), FALSE));
        }
        dump = CFilePath::combine(WinAPI::getTempPath(), name + L".dump");
        m_log = test::defaultLogPath(name);
    }
    ~CCrashRun()
    {
        ::DeleteFileW(dump.c_str());
        ::DeleteFileW(m_log.c_str());
    }
    CCrashRun(const CCrashRun&) = delete;
    CCrashRun& operator=(const CCrashRun&) = delete;

    void run(const std::wstring& command, const std::wstring& currentDirectory = L"")
    {
        test::CProcess process;
        test::start(process, exe, command, currentDirectory);
        exitCode = process.info.hProcess != nullptr ? process.wait(120000) : 0xDEADBEEF;
        readLog();
    }
    void readLog() { texts = test::logTexts(m_log); }

    std::size_t count(const std::wstring& text) const { return std::count(texts.begin(), texts.end(), text); }
    std::size_t find(const std::wstring& text, std::size_t from = 0) const
    {
        const auto found = std::find(texts.begin() + std::min(from, texts.size()), texts.end(), text);
        return static_cast<std::size_t>(found - texts.begin());
    }
    std::string dumpSignature() const { return test::readBytes(dump).substr(0, 4); }

    const std::wstring name;
    CFilePath exe;
    CFilePath dump;
    std::uint32_t exitCode = 0;
    std::vector<std::wstring> texts;

private:
    CFilePath m_log;
};

// Checks the layout of the one complete report in the log and returns its frames.
std::vector<CFrameLines> checkReport(const CCrashRun& run, const std::wstring& exceptionText)
{
    const std::vector<std::wstring>& t = run.texts;
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(run.count(L"MxQorSetup DEBUGGER:"), 1u);
    EXPECT_EQ(run.count(kBanner), 2u);
    std::size_t i = run.find(L"MxQorSetup DEBUGGER:");
    if (i + 8 >= t.size())
    {
        ADD_FAILURE() << "no crash report in the log";
        return {};
    }
    EXPECT_EQ(t[i + 1], L"");
    EXPECT_EQ(t[i + 2], kBanner);
    EXPECT_EQ(t[i + 3], exceptionText);
    EXPECT_TRUE(t[i + 4].starts_with(L"  Fault address: 0x") && hexAt(t[i + 4], 19, kDigits)) << test::narrow(t[i + 4]);
    i += 5;
    if (t[i].starts_with(L"\t"))
    {
        ++i;  // the module path of the long form
    }

    const std::wstring ip = kNativeMachine == CMachine::x86 ? L"E" : L"R";
    const std::vector<std::wstring> registerPrefixes = {L"  Registers:",
                                                        L"\tInstruction pointer (CS:" + ip + L"IP): ",
                                                        L"\tStack pointer       (SS:" + ip + L"SP): ",
                                                        L"\t" + ip + L"AX: ",
                                                        L"\t" + ip + L"BX: ",
                                                        L"\t" + ip + L"CX: ",
                                                        L"\t" + ip + L"DX: ",
                                                        L"\t" + ip + L"SI: ",
                                                        L"\t" + ip + L"DI: "};
    for (const std::wstring& prefix : registerPrefixes)
    {
        EXPECT_TRUE(t[i].starts_with(prefix)) << test::narrow(t[i]) << " should start with " << test::narrow(prefix);
        ++i;
    }
    while (i < t.size() && t[i].starts_with(L"\tR"))
    {
        ++i;  // R8 to R15
    }
    EXPECT_TRUE(t[i++].starts_with(L"\tDS:"));

    const CFilePath folder = run.exe.parent();
    const std::wstring symbolPath = L"\t" + folder + L";" + CFilePath::combine(folder, L"pdbs") + L";SRV*" +
                                    CFilePath::combine(WinAPI::getTempPath(), L"pdbs") +
                                    L"*https://symbols.invalid/download/symbols";
    EXPECT_EQ(t[i++], L"  Symbol path:");
    EXPECT_TRUE(sameText(t[i++], symbolPath)) << test::narrow(t[i - 1]);
    EXPECT_EQ(t[i++], L"");
    EXPECT_EQ(t[i++], L"  Call stack:");
    EXPECT_EQ(t[i++], L"\tAddress" + std::wstring(kDigits - 5, L' ') + L"Frame");

    std::vector<CFrameLines> frames;
    for (; i < t.size() && t[i] != L"  Modules:"; ++i)
    {
        const std::wstring& line = t[i];
        if (line.starts_with(L"\t") && hexAt(line, 1, kDigits) && hexAt(line, 3 + kDigits, kDigits))
        {
            frames.push_back({line.substr(1, kDigits),
                              line.substr(std::min(line.size(), std::size_t(9 + 2 * kDigits))),
                              L"",
                              L"",
                              {},
                              {}});
        }
        else if (frames.empty())
        {
            ADD_FAILURE() << "a call-stack line before the first frame: " << test::narrow(line);
        }
        else if (line.starts_with(kParamIndent + L"Param "))
        {
            frames.back().params.push_back(line);
            frames.back().rows.emplace_back();
        }
        else if (line.starts_with(kRowIndent) && hexAt(line, 27, kDigits))
        {
            if (frames.back().rows.empty())
            {
                ADD_FAILURE() << "a memory row without a parameter: " << test::narrow(line);
            }
            else
            {
                frames.back().rows.back().push_back(line);
            }
        }
        else if (line.starts_with(kParamIndent))
        {
            frames.back().source = line.substr(19);
        }
        else
        {
            frames.back().symbol = line;
        }
    }
    EXPECT_LT(i, t.size()) << "no module section";
    if (i + 2 >= t.size())
    {
        return frames;
    }
    EXPECT_EQ(t[i + 1], L"   Base" + std::wstring(kDigits - 2, L' ') + L"Upper");
    const std::wstring& own = t[i + 2];
    EXPECT_TRUE(hexAt(own, 3, kDigits) && own.substr(3 + kDigits, 3) == L" - " && hexAt(own, 6 + kDigits, kDigits))
        << test::narrow(own);
    // The program's own module comes first, with its version when it has one.
    EXPECT_TRUE(sameText(own.substr(std::min(own.size(), std::size_t(7 + 2 * kDigits)), run.exe.size()), run.exe))
        << "the program's own module comes first: " << test::narrow(own);
    EXPECT_EQ(t[t.size() - 2], kBanner);
    EXPECT_EQ(t.back(), L"");

    // Every frame that lies in a module names its place there, to be symbolised later.
    for (const CFrameLines& frame : frames)
    {
        const std::size_t plus = frame.place.find(L"+0x");
        const bool place = plus != std::wstring::npos && plus > 0 && frame.place.size() > plus + 3 &&
                           hexAt(frame.place, plus + 3, static_cast<int>(frame.place.size() - plus - 3));
        EXPECT_EQ(place, !frame.symbol.empty()) << test::narrow(frame.place) << " / " << test::narrow(frame.symbol);
    }

    // Parameters and their memory for the first eight frames only.
    for (std::size_t f = 0; f < frames.size(); ++f)
    {
        if (f < 8)
        {
            EXPECT_EQ(frames[f].params.size(), 4u) << "frame " << f;
            for (std::size_t p = 0; p < frames[f].params.size(); ++p)
            {
                const bool zero = frames[f].params[p].ends_with(L"0x" + std::wstring(kDigits, L'0'));
                EXPECT_TRUE(frames[f].params[p].starts_with(kParamIndent + L"Param " + std::to_wstring(p) + L":   0x"));
                EXPECT_LE(frames[f].rows[p].size(), 2u);
                if (zero)
                {
                    EXPECT_TRUE(frames[f].rows[p].empty()) << "memory rows for a zero parameter";
                }
            }
        }
        else
        {
            EXPECT_TRUE(frames[f].params.empty()) << "parameters for frame " << f;
        }
    }
    return frames;
}

// A frame's symbol line names the function, with or without its namespaces: "  [ns::]function+<hex>".
bool isSymbolOf(const std::wstring& symbol, const std::wstring& function)
{
    const std::size_t plus = symbol.rfind(L'+');
    if (!symbol.starts_with(L"  ") || plus == std::wstring::npos || plus < 2 + function.size())
    {
        return false;
    }
    const std::wstring name = symbol.substr(2, plus - 2);
    return name == function || name.ends_with(L"::" + function);
}

bool hasSymbol(const std::vector<CFrameLines>& frames, const std::wstring& function)
{
    return std::any_of(frames.begin(), frames.end(),
                       [&](const CFrameLines& frame) { return isSymbolOf(frame.symbol, function); });
}
}  // namespace

TEST(CrashProgram, AccessViolationLeavesDumpAndCompleteReport)
{
    test::CTempDir folder;
    CCrashRun crash(folder, L"twcrash_access");
    crash.run(L"access");
    const std::vector<CFrameLines> frames = checkReport(crash, L"  Exception: ACCESS_VIOLATION (0xC0000005)");
    EXPECT_EQ(crash.dumpSignature(), "MDMP");
    EXPECT_EQ(crash.count(L"Successfully created minidump in " + crash.dump), 1u);

    // The long form of the fault address: section and offset, then the module.
    const std::size_t head = crash.find(L"MxQorSetup DEBUGGER:");
    ASSERT_LT(head + 5, crash.texts.size());
    EXPECT_TRUE(hexAt(crash.texts[head + 4], 20 + kDigits, 2) && crash.texts[head + 4][22 + kDigits] == L':')
        << test::narrow(crash.texts[head + 4]);
    EXPECT_TRUE(sameText(crash.texts[head + 5], L"\t" + crash.exe));

    // The faulting function with its source line, and on x86 the text its first parameter points
    // to (on x64 the report shows the register home area, which a clang-built function leaves
    // unwritten).
    ASSERT_FALSE(frames.empty());
    EXPECT_TRUE(isSymbolOf(frames[0].symbol, L"writeThroughPointer")) << test::narrow(frames[0].symbol);
    EXPECT_NE(frames[0].source.find(L"TwCrash.cpp:"), std::wstring::npos) << test::narrow(frames[0].source);
    if (kNativeMachine != CMachine::x86)
    {
        return;
    }
    ASSERT_EQ(frames[0].rows.size(), 4u);
    ASSERT_EQ(frames[0].rows[0].size(), 2u);
    EXPECT_TRUE(frames[0].rows[0][0].ends_with(L"   TwCrash paramete")) << test::narrow(frames[0].rows[0][0]);
    EXPECT_TRUE(frames[0].rows[0][1].ends_with(L"   r marker 0123456")) << test::narrow(frames[0].rows[0][1]);
}

TEST(CrashProgram, WithoutThePdbFramesKeepTheirPlacesAndNoNames)
{
    test::CTempDir withPdb;
    test::CTempDir withoutPdb;
    CCrashRun named(withPdb, L"twcrash_pdb");
    CCrashRun bare(withoutPdb, L"twcrash_nopdb", test::crashExe(), false);
    named.run(L"divide");
    bare.run(L"divide");
    const std::vector<CFrameLines> namedFrames = checkReport(named, L"  Exception: INT_DIVIDE_BY_ZERO (0xC0000094)");
    const std::vector<CFrameLines> bareFrames = checkReport(bare, L"  Exception: INT_DIVIDE_BY_ZERO (0xC0000094)");
    EXPECT_EQ(named.dumpSignature(), "MDMP");
    ASSERT_FALSE(namedFrames.empty());
    ASSERT_EQ(bareFrames.size(), namedFrames.size());
    EXPECT_TRUE(isSymbolOf(namedFrames[0].symbol, L"divideNumbers")) << test::narrow(namedFrames[0].symbol);

    // The same offsets in the program with or without its PDB: the PDB archived with a build
    // turns a bare report's places into the names of the named one. Without it the program's
    // frames show section and offset only, never a name or a line.
    const auto offset = [](const std::wstring& place) {
        return place.substr(std::min(place.size(), place.find(L"+0x")));
    };
    const std::wstring named0 = named.exe.fileName();
    const std::wstring bare0 = bare.exe.fileName();
    for (std::size_t f = 0; f < bareFrames.size(); ++f)
    {
        const CFrameLines& frame = bareFrames[f];
        EXPECT_EQ(offset(frame.place), offset(namedFrames[f].place)) << "frame " << f;
        if (frame.place.starts_with(bare0 + L"+0x"))
        {
            EXPECT_TRUE(namedFrames[f].place.starts_with(named0 + L"+0x")) << test::narrow(namedFrames[f].place);
            EXPECT_TRUE(frame.symbol.starts_with(L"   ") && hexAt(frame.symbol, 3, 4)) << test::narrow(frame.symbol);
            EXPECT_EQ(frame.source, L"") << "frame " << f;
        }
    }
    EXPECT_TRUE(bareFrames[0].place.starts_with(bare0 + L"+0x")) << test::narrow(bareFrames[0].place);
}

TEST(CrashProgram, NullFunctionCallGivesTheShortFaultAddress)
{
    test::CTempDir folder;
    CCrashRun crash(folder, L"twcrash_nullcall");
    crash.run(L"nullcall");
    const std::vector<CFrameLines> frames = checkReport(crash, L"  Exception: ACCESS_VIOLATION (0xC0000005)");
    EXPECT_EQ(crash.count(L"  Fault address: 0x" + std::wstring(kDigits, L'0')), 1u);
    EXPECT_EQ(crash.dumpSignature(), "MDMP");
    ASSERT_GE(frames.size(), 2u);
    EXPECT_EQ(frames[0].address, std::wstring(kDigits, L'0'));
    EXPECT_EQ(frames[0].symbol, L"");
    EXPECT_TRUE(isSymbolOf(frames[1].symbol, L"callThroughPointer")) << test::narrow(frames[1].symbol);
}

TEST(CrashProgram, StackOverflowIsReportedFromAThreadWithStack)
{
    test::CTempDir folder;
    CCrashRun crash(folder, L"twcrash_overflow");
    crash.run(L"overflow");
    const std::vector<CFrameLines> frames = checkReport(crash, L"  Exception: STACK_OVERFLOW (0xC00000FD)");
    EXPECT_EQ(crash.dumpSignature(), "MDMP");
    ASSERT_GT(frames.size(), 8u);
    EXPECT_TRUE(isSymbolOf(frames[0].symbol, L"recurseForever")) << test::narrow(frames[0].symbol);
    EXPECT_TRUE(isSymbolOf(frames[9].symbol, L"recurseForever")) << test::narrow(frames[9].symbol);
    EXPECT_NE(frames[9].source.find(L"TwCrash.cpp:"), std::wstring::npos);
}

TEST(CrashProgram, CodeOutsideTheTableIsNamedByTheSystemText)
{
    test::CTempDir folder;
    CCrashRun crash(folder, L"twcrash_raise");
    crash.run(L"raise");
    const std::size_t head = crash.find(L"MxQorSetup DEBUGGER:");
    ASSERT_LT(head + 3, crash.texts.size());
    const std::wstring exceptionText = crash.texts[head + 3];
    EXPECT_TRUE(exceptionText.starts_with(L"  Exception: ") && exceptionText.ends_with(L" (0xE0001234)"))
        << test::narrow(exceptionText);
    const std::vector<CFrameLines> frames = checkReport(crash, exceptionText);
    EXPECT_EQ(crash.dumpSignature(), "MDMP");
    EXPECT_TRUE(hasSymbol(frames, L"raiseUnknownException"));
}

// Two threads crashing together, a crash in the middle of a log line (holding the line lock),
// and a crash with an unusable debugging-help library in the current directory: each gives one
// complete report and one dump.
TEST(CrashProgram, CrashesInHarderPlacesStillGiveOneReport)
{
    test::CTempDir current;
    test::writeTextFile(current / L"dbghelp.dll", "not a library");
    const struct
    {
        const wchar_t* command;
        std::wstring currentDirectory;
        const wchar_t* exception;
        const wchar_t* function;
    } cases[] = {
        {L"threads", L"", L"  Exception: ACCESS_VIOLATION (0xC0000005)", L"writeThroughPointer"},
        {L"inline", L"", L"  Exception: ACCESS_VIOLATION (0xC0000005)", L"writeThroughPointer"},
        {L"divide", current.path(), L"  Exception: INT_DIVIDE_BY_ZERO (0xC0000094)", L"divideNumbers"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(test::narrow(c.command));
        test::CTempDir folder;
        CCrashRun crash(folder, std::wstring(L"twcrash_") + c.command);
        crash.run(c.command, c.currentDirectory);
        EXPECT_TRUE(hasSymbol(checkReport(crash, c.exception), c.function));
        EXPECT_EQ(crash.count(L"Successfully created minidump in " + crash.dump), 1u);
    }
}

TEST(CrashProgram, CrashWhileALineIsWrittenToASharedLogStillReports)
{
    // The fault comes while the log holds the file's sync mutex, which another process waits for
    // as well. The short notice of an unusable debugging-help library stands for the report.
    test::CTempDir folder;
    test::CTempDir other;
    test::writeTextFile(folder / L"dbghelp.dll", "not a library");
    CCrashRun crash(folder, L"twcrash_insync");
    const CFilePath writer = test::copyProgram(test::logWriterExe(), other.path(), crash.name);
    test::CEvent ready(L"ready");
    test::CEvent go(L"go");
    test::CProcess writing;
    test::start(writing, writer, L"5 " + ready.name() + L" " + go.name());
    ASSERT_TRUE(ready.wait());
    crash.run(L"insync");
    go.set();
    EXPECT_EQ(writing.wait(), 0u);
    crash.readLog();

    EXPECT_EQ(crash.exitCode, 1u);
    EXPECT_EQ(crash.count(kNoticeHead), 1u);
    const auto written = std::count_if(crash.texts.begin(), crash.texts.end(),
                                       [](const std::wstring& text) { return text.starts_with(L"line "); });
    EXPECT_EQ(written, 5);
}

// A thread that a loaded library started faults while the run waits, or once the deletion has
// begun: the rest of the run stops where it stands. Nothing more is deleted and nothing follows
// the one whole report; the dump is written and the exit code is the crash's.
TEST(CrashProgram, CrashOnALibraryThreadStopsTheRun)
{
    for (const bool duringTheWalk : {false, true})
    {
        SCOPED_TRACE(duringTheWalk ? "during the walk" : "during the wait");
        // Enough files for the deletion to go on well after the fault, were it not stopped.
        const int files = duringTheWalk ? 2000 : 20;
        test::CTempDir folder;
        copyInformationLibrary(folder / L"MxQorTavUt.dll");
        const CFilePath target = folder / L"target";
        test::makeFolder(target);
        for (int i = 0; i < files; ++i)
        {
            test::writeTextFile(target / (L"f" + std::to_wstring(i)));
        }
        CCrashRun crash(folder, L"tw_libthread", test::tidewellExe());
        // The library's thread faults half a second after the header, while the run waits a
        // second, or as soon as the first file the deletion takes is gone.
        const CEnvironmentValue thread(L"TW_INFOLIB_THREAD", duringTheWalk ? firstListedFile(target) : L"wait");
        crash.run(L"/Path:" + target + (duringTheWalk ? L" /Wait:0" : L" /Wait:1"));

        checkReport(crash, L"  Exception: ACCESS_VIOLATION (0xC0000005)");
        EXPECT_EQ(crash.dumpSignature(), "MDMP");
        EXPECT_EQ(crash.count(L"Tidewell finished successfully."), 0u);
        // The stop comes a little after the first file is gone (the fault has to be noticed and
        // dispatched), and never after the report.
        EXPECT_GE(countFiles(target), duringTheWalk ? files / 2 : files);
    }
}

// Links planted at the names a crash writes to, in the temporary folder and beside the program,
// all pointing outside: none is followed. The file they lead to stays as it was, nothing lands in
// the folder, and the dump and the symbol cache take the next free names, which the log gives.
TEST(CrashProgram, LinksAtTheNamesACrashWritesToAreNeverFollowed)
{
    test::CTempDir outside;
    test::CTempDir temp;
    test::CTempDir folder;
    const CFilePath canary = outside / L"canary.txt";
    test::writeTextFile(canary, "canary");
    const test::CTempFolderOverride temporary(temp.path());
    CCrashRun crash(folder, L"twcrash_links");
    const std::vector<std::pair<CFilePath, CFilePath>> links = {
        {crash.dump, canary}, {temp / L"pdbs", outside.path()}, {folder / L"symsrv.yes", canary}};
    for (const auto& [link, target] : links)
    {
        test::makeUnixLink(link, target);
    }
    crash.run(L"access");
    for (const auto& [link, target] : links)
    {
        test::removeUnixLink(link);
    }

    EXPECT_EQ(crash.exitCode, 1u);
    EXPECT_EQ(test::readBytes(canary), "canary");
    EXPECT_EQ(countFiles(outside.path()), 1);
    const CFilePath dump = temp / (crash.name + L".2.dump");
    EXPECT_EQ(crash.count(L"Successfully created minidump in " + dump), 1u);
    EXPECT_EQ(test::readBytes(dump).substr(0, 4), "MDMP");
    const std::size_t symbolPath = crash.find(L"  Symbol path:");
    ASSERT_LT(symbolPath + 1, crash.texts.size());
    EXPECT_NE(crash.texts[symbolPath + 1].find(L";SRV*" + (temp / L"pdbs.2") + L"*https://"), std::wstring::npos)
        << test::narrow(crash.texts[symbolPath + 1]);
}

// An information library and a debugging-help library put beside a program in a folder that
// others can write to (a copy in %TEMP%), or that others can write themselves, are never loaded:
// the stand-in would leave a marker. The log says so, the system's debugging-help library writes
// the report, and nothing is written into that folder.
TEST(CrashProgram, LibrariesThatOthersCanWriteOrPutBesideAProgramAreNotLoaded)
{
    for (const bool writableFiles : {false, true})
    {
        SCOPED_TRACE(writableFiles ? "libraries others can write" : "folder others can write");
        test::CTempDir folder;
        test::CTempDir markers;
        copyInformationLibrary(folder / L"MxQorTavUt.dll");
        copyInformationLibrary(folder / L"dbghelp.dll");
        if (writableFiles)
        {
            test::letEveryoneWrite(folder / L"MxQorTavUt.dll");
            test::letEveryoneWrite(folder / L"dbghelp.dll");
        }
        else
        {
            test::letEveryoneWrite(folder.path());
        }
        const CFilePath marker = markers / L"loaded";
        const CEnvironmentValue markerValue(L"TW_INFOLIB_MARKER", marker);
        const std::wstring notLoaded =
            L" is not loaded: others than the system and the administrators can write to the "
            L"executable's folder or to the library. The library is taken from the system folder only.";

        CCrashRun run(folder, L"tw_planted", test::tidewellExe());
        run.run(L"/Path:" + (folder / L"missing") + L" /Wait:0");
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_EQ(run.count((folder / L"MxQorTavUt.dll") + notLoaded), 1u);

        CCrashRun crash(folder, L"twcrash_planted");
        crash.run(L"access");
        EXPECT_TRUE(
            hasSymbol(checkReport(crash, L"  Exception: ACCESS_VIOLATION (0xC0000005)"), L"writeThroughPointer"));
        EXPECT_EQ(crash.count((folder / L"dbghelp.dll") + notLoaded), 1u);

        EXPECT_FALSE(test::exists(marker));
        // Only a folder that nobody else can write takes the symbol server's marker.
        EXPECT_EQ(test::exists(folder / L"symsrv.yes"), writableFiles);
    }
}

TEST(CrashProgram, FaultingInformationLibraryInTheHeaderIsReported)
{
    test::CTempDir folder;
    copyInformationLibrary(folder / L"MxQorTavUt.dll");
    const CFilePath target = folder / L"target";
    test::makeFolder(target);
    CCrashRun crash(folder, L"tw_infofault", test::tidewellExe());
    {
        const CEnvironmentValue fault(L"TW_INFOLIB_FAULT", L"1");
        crash.run(L"/Path:" + target + L" /Wait:0");
    }
    checkReport(crash, L"  Exception: ACCESS_VIOLATION (0xC0000005)");
    EXPECT_EQ(crash.dumpSignature(), "MDMP");
    EXPECT_TRUE(test::exists(target));
}

TEST(CrashProgram, UnusableDebugHelpLibraryGivesTheNotice)
{
    test::CTempDir folder;
    test::writeTextFile(folder / L"dbghelp.dll", "not a library");
    CCrashRun crash(folder, L"twcrash_nodbghelp");
    crash.run(L"access");
    EXPECT_EQ(crash.exitCode, 1u);
    const std::vector<std::wstring> expected = {
        kNoticeHead,
        L"                     Install the MxQorSetup PDB files into your executable directory and repeat the "
        L"failing step."};
    const std::size_t first = crash.find(expected[0]);
    ASSERT_LT(first + 2, crash.texts.size()) << "no notice in the log";
    EXPECT_EQ(crash.texts[first + 1], expected[1]);
    const std::wstring& third = crash.texts[first + 2];
    EXPECT_TRUE(third.starts_with(std::wstring(21, L' ')) && third.size() > 21 && third[21] != L' ')
        << test::narrow(third);
    EXPECT_EQ(crash.texts.size(), first + 3) << "the notice is all";
    EXPECT_EQ(crash.count(kBanner), 0u);
    EXPECT_FALSE(test::exists(crash.dump));
}

TEST(CrashProgram, UnusableTemporaryFolderEndsTheReportEarlyWithExitCodeOne)
{
    test::CTempDir folder;
    CCrashRun crash(folder, L"twcrash_notemp");
    // A temporary folder below a file: neither the dump nor the symbol cache can be created.
    test::writeTextFile(folder / L"blocker");
    {
        const std::wstring unusable = folder / L"blocker\\temp";
        test::CTempFolderOverride temp(unusable);
        crash.run(L"access");
    }
    EXPECT_EQ(crash.exitCode, 1u);
    const std::vector<std::wstring>& t = crash.texts;
    const std::size_t dumpFailure = test::indexOfStart(t, L"Failed creating minidump: ");
    const std::size_t head = crash.find(L"MxQorSetup DEBUGGER:");
    const std::size_t early = test::indexOfStart(t, L"  The crash report ends early: ");
    EXPECT_LT(dumpFailure, head);
    ASSERT_LT(head + 3, t.size());
    EXPECT_EQ(t[head + 3], L"  Exception: ACCESS_VIOLATION (0xC0000005)");
    ASSERT_LT(early + 2, t.size());
    EXPECT_GT(early, head);
    EXPECT_EQ(t[early + 1], kBanner);
    EXPECT_EQ(t[early + 2], L"");
    EXPECT_EQ(crash.count(L"  Call stack:"), 0u);
    EXPECT_EQ(crash.count(kBanner), 2u);
}
