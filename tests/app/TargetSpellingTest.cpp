// One folder under every spelling a caller may give, and the spellings that name no file at all.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cwctype>
#include <functional>
#include <memory>

namespace
{
constexpr std::uint32_t kMinusOne = 0xFFFFFFFF;

std::wstring upperCase(std::wstring text)
{
    for (wchar_t& c : text)
    {
        c = static_cast<wchar_t>(std::towupper(c));
    }
    return text;
}

std::wstring shortForm(const std::wstring& path)
{
    wchar_t buffer[MAX_PATH];
    const DWORD count = ::GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
    EXPECT_GT(count, 0u);
    return std::wstring(buffer, count);
}
}  // namespace

TEST(TargetSpelling, EverySpellingOfAFolderMovesTheLogAndTheCurrentDirectoryOutAndDeletesIt)
{
    const std::pair<const char*, std::function<std::wstring(const std::wstring&)>> spellings[] = {
        {"plain", [](const std::wstring& path) { return path; }},
        {"verbatim", [](const std::wstring& path) { return L"\\\\?\\" + path; }},
        {"device", [](const std::wstring& path) { return L"\\\\.\\" + path; }},
        {"object manager", [](const std::wstring& path) { return L"\\??\\" + path; }},
        {"short name", shortForm},
        {"letter case", upperCase},
    };
    struct CRun
    {
        std::unique_ptr<test::CTempDir> dir = std::make_unique<test::CTempDir>();
        std::unique_ptr<test::CTempDir> temp = std::make_unique<test::CTempDir>();
        CFilePath target;
        std::wstring name = test::uniqueName(L"tw");
        test::CProcess process;
    };
    std::vector<std::unique_ptr<CRun>> runs;
    for (const auto& [label, spell] : spellings)
    {
        auto run = std::make_unique<CRun>();
        run->target = *run->dir / L"Application Folder";
        test::makeFolder(run->target);
        test::makeFolder(run->target / L"cwd");
        // A name that ends in a blank, as archive tools make them.
        ASSERT_TRUE(::CreateDirectoryW((L"\\\\?\\" + run->target + L"\\Data ").c_str(), nullptr));
        test::writeTextFile(L"\\\\?\\" + run->target + L"\\Data \\f.txt");
        test::writeTextFile(*run->dir / L"MxQorSetup.cfg",
                            "[Trace]\r\nTargetDir=" + test::narrow(run->target) + "\\logs\r\n");
        const CFilePath exe = test::copyTidewell(run->dir->path(), run->name);
        test::CTempFolderOverride scoped(run->temp->path());
        test::start(run->process, exe, L"\"/Path:" + spell(run->target) + L"\" /Wait:0", run->target / L"cwd");
        runs.push_back(std::move(run));
    }
    for (std::size_t i = 0; i < runs.size(); ++i)
    {
        CRun& run = *runs[i];
        SCOPED_TRACE(spellings[i].first);
        EXPECT_EQ(run.process.wait(), 0u);
        EXPECT_FALSE(test::exists(run.target));
        const CFilePath log = *run.temp / (run.name + L".log");
        const std::vector<std::wstring> texts = test::logTexts(log);
        EXPECT_LT(test::indexOfStart(texts, L"This log file lies in the folder to be deleted; the log continues in "),
                  texts.size());
        ASSERT_FALSE(texts.empty());
        EXPECT_EQ(texts.back(), L"Tidewell finished successfully.");
    }
}

TEST(TargetSpelling, ObjectAndDeviceNamesThatAreNoDriveOrSharePathAreRefused)
{
    test::CTempDir dir;
    const CFilePath cwd = dir / L"cwd";
    // What each spelling would name if it were read as a relative path.
    const wchar_t* const canaries[] = {L"UNC\\srv\\share\\dir",
                                       L"GLOBALROOT\\Device\\dir",
                                       L"Volume{00000000-0000-0000-0000-000000000000}\\dir",
                                       L"dir",
                                       L"pipe\\x",
                                       L"PhysicalDrive0"};
    test::makeFolder(cwd);
    for (const std::wstring canary : canaries)
    {
        for (std::size_t cut = 0; cut != std::wstring::npos; cut = canary.find(L'\\', cut + 1))
        {
            if (cut != 0)
            {
                test::makeFolder(cwd / canary.substr(0, cut));
            }
        }
        test::makeFolder(cwd / canary);
        test::writeTextFile(cwd / canary / L"canary.txt");
    }
    // Before "UNC\" the object-manager lead-in is another spelling of the verbatim one (a share that
    // is not there); every other object-manager or device name is refused.
    const wchar_t* const paths[] = {L"\\??\\UNC\\srv\\share\\dir",
                                    L"\\??\\GLOBALROOT\\Device\\dir",
                                    L"\\??\\Volume{00000000-0000-0000-0000-000000000000}\\dir",
                                    L"\\??\\dir",
                                    L"\\\\?\\GLOBALROOT\\Device\\dir",
                                    L"\\\\?\\Volume{00000000-0000-0000-0000-000000000000}\\dir",
                                    L"\\\\.\\pipe\\x",
                                    L"\\\\.\\PhysicalDrive0"};
    std::vector<std::unique_ptr<test::CProcess>> processes;
    std::vector<std::wstring> names;
    for (const wchar_t* path : paths)
    {
        names.push_back(test::uniqueName(L"tw"));
        processes.push_back(std::make_unique<test::CProcess>());
        test::start(*processes.back(), test::copyTidewell(dir.path(), names.back()),
                    L"\"/Path:" + std::wstring(path) + L"\" /Wait:0", cwd);
    }
    for (std::size_t i = 0; i < processes.size(); ++i)
    {
        SCOPED_TRACE(test::narrow(paths[i]));
        const std::uint32_t exitCode = processes[i]->wait();
        const CFilePath log = test::defaultLogPath(names[i]);
        const std::vector<std::wstring> texts = test::logTexts(log);
        ::DeleteFileW(log.c_str());
        ASSERT_FALSE(texts.empty());
        if (i == 0)
        {
            EXPECT_NE(exitCode, kMinusOne);
            EXPECT_EQ(texts.front(), L"Working on Path \\\\?\\UNC\\srv\\share\\dir");
            continue;
        }
        EXPECT_EQ(exitCode, kMinusOne);
        ASSERT_EQ(texts.size(), 2u);
        EXPECT_TRUE(texts[0].starts_with(L"Refusing Path \"" + std::wstring(paths[i]) + L"\": "));
    }
    for (const wchar_t* canary : canaries)
    {
        EXPECT_TRUE(test::exists(cwd / canary / L"canary.txt")) << test::narrow(canary);
    }
}
