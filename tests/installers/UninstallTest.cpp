// Products installed and removed by real setup engines under Wine, as on a user's machine.
// NSIS (integrations/nsis/Example.nsi, built for each stub and each set of Tidewell options): the
// installer runs silently into Program Files\<vendor>\Demo App, and "Uninstall.exe /S" copies
// itself to the temporary folder, starts Tidewell through Tidewell.nsh and ends. Tidewell then
// runs on its own; the test waits for its log and its deleter.
// Windows Installer (integrations/msi/Example.wxs, built with wixl): msiexec removes the package's
// files, and Tidewell the product's data folder, from a custom action.
#include "fs/InUseDeferral.h"
#include "support/TestSupport.h"
#include "win/Platform.h"
#include "win/SystemCalls.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>

namespace
{
struct CCase
{
    const char* name;
    // The installer's set of Tidewell options: installers\<stub>-<options>.exe.
    const wchar_t* options;
    // The product's program bin\DemoApp.exe runs while the product is uninstalled.
    bool programRuns;
    // Another product of the vendor lies beside this one.
    bool otherProduct;
    // The file of the product's folder that stays (relative to it), or null: the folder goes.
    const wchar_t* stays;
    bool vendorFolderGoes;
    // Tidewell's last log line.
    const wchar_t* lastLine;
};

const CCase kCases[] = {
    {"plain", L"plain", false, true, nullptr, false, L"Tidewell finished successfully."},
    {"running_deferred", L"defer", true, true, nullptr, false, L"Tidewell return value: 3010"},
    {"running_reported", L"plain", true, true, L"bin\\DemoApp.exe", false, L"Tidewell return value: 1"},
    {"empty_vendor_folder", L"parents", false, false, nullptr, true, L"Tidewell finished successfully."},
    {"kept_data", L"keep", false, true, L"data\\settings.ini", false, L"Tidewell finished successfully."},
};

// The stubs of the installers: the amd64 stub always, the x86 stub with the x86 product.
#if TIDEWELL_X86
const wchar_t* const kStubs[] = {L"amd64-unicode", L"x86-unicode"};
#else
const wchar_t* const kStubs[] = {L"amd64-unicode"};
#endif

const std::wstring kInstalledFiles[] = {L"Uninstall.exe", L"Tidewell.exe", L"readme.txt", L"data\\settings.ini",
                                        L"bin\\DemoApp.exe"};

// Program Files\<unique vendor> (the 64-bit folder, for the x86 tests too), removed at the end.
class CVendorFolder
{
public:
    CVendorFolder()
        : m_path(CFilePath(WinAPI::expandEnvironmentStrings(L"%ProgramW6432%")) / test::uniqueName(L"Vendor"))
    {
    }
    ~CVendorFolder() { test::removeTree(m_path); }
    CVendorFolder(const CVendorFolder&) = delete;
    CVendorFolder& operator=(const CVendorFolder&) = delete;
    CFilePath operator/(const std::wstring& name) const { return m_path / name; }
    const CFilePath& path() const { return m_path; }

private:
    CFilePath m_path;
};

// The texts of the log of Tidewell's run on product: the run's own file among Tidewell.log and its
// backups (other runs may have started a newer file since).
std::vector<std::wstring> runLog(const CFilePath& product)
{
    const CFilePath newest = test::defaultLogPath(L"Tidewell");
    for (int backup = 0; backup <= 9; ++backup)
    {
        const CFilePath file =
            backup == 0 ? newest : newest.parent() / (L"Tidewell" + std::to_wstring(backup) + L".log");
        std::vector<std::wstring> texts = test::logTexts(file);
        if (test::indexOf(texts, L"Working on Path " + product) < texts.size())
        {
            return texts;
        }
    }
    return {};
}

bool finished(const std::vector<std::wstring>& texts)
{
    return !texts.empty() &&
           (texts.back() == L"Tidewell finished successfully." || texts.back().starts_with(L"Tidewell return value: "));
}

std::vector<std::wstring> entriesOf(const CFilePath& folder)
{
    std::vector<std::wstring> names;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(std::wstring(folder))))
    {
        names.push_back(entry.path().filename().wstring());
    }
    return names;
}

void PrintTo(const CCase& c, std::ostream* out)
{
    *out << c.name;
}

using CParam = std::tuple<CCase, const wchar_t*>;

class Uninstall : public testing::TestWithParam<CParam>
{
};

std::string caseName(const testing::TestParamInfo<CParam>& info)
{
    const std::wstring stub = std::get<1>(info.param);
    return std::string(std::get<0>(info.param).name) + "_" + test::narrow(stub.substr(0, stub.find(L'-')));
}
}  // namespace

TEST_P(Uninstall, RemovesTheProductFolder)
{
    const auto& [c, stub] = GetParam();
    const CFilePath installer =
        test::buildFolder() / (L"installers\\" + std::wstring(stub) + L"-" + c.options + L".exe");
    ASSERT_TRUE(test::exists(installer)) << test::narrow(installer);
    test::CRestartOperationsKept restartOperations;
    CVendorFolder vendor;
    const CFilePath product = vendor / L"Demo App";
    const CFilePath other = vendor / L"Other Product\\other.exe";

    // NSIS takes the folder from /D=, the last argument, unquoted.
    ASSERT_EQ(test::runProgram(installer, L"/S /D=" + product), 0u);
    for (const std::wstring& file : kInstalledFiles)
    {
        ASSERT_TRUE(test::exists(product / file)) << test::narrow(file);
    }
    if (c.otherProduct)
    {
        test::makeFolder(vendor / L"Other Product");
        test::writeTextFile(other);
    }
    std::optional<test::CChildHolder> program;
    if (c.programRuns)
    {
        program.emplace(L"event", test::uniqueName(L"DemoApp"), product / L"bin\\DemoApp.exe");
    }

    // The temporary folder of the uninstaller, of its copy, of Tidewell and of its deleter.
    test::CTempDir temp;
    {
        test::CTempFolderOverride inherited(temp.path());
        EXPECT_EQ(test::runProgram(product / L"Uninstall.exe", L"/S"), 0u);
    }
    std::vector<std::wstring> log;
    ASSERT_TRUE(test::waitUntil([&] { return finished(log = runLog(product)); }, 60000))
        << "no finished run in the log, " << log.size() << " lines";
    EXPECT_EQ(log.back(), c.lastLine);
    EXPECT_TRUE(!program || program->running()) << "the product's program ended during the run";

    // Nothing of Tidewell stays in the temporary folder: its copy, the copy's folder and the
    // deleter's own folder go. NSIS leaves its own copy of the uninstaller (~nsu*.tmp) there for
    // the next restart.
    const auto notOfNsis = [](const std::wstring& name) { return !name.starts_with(L"~nsu"); };
    std::vector<std::wstring> left;
    EXPECT_TRUE(test::waitUntil([&] {
        left = entriesOf(temp.path());
        return std::none_of(left.begin(), left.end(), notOfNsis);
    })) << "left in %TEMP%: "
        << test::narrow(*std::find_if(left.begin(), left.end(), notOfNsis));
    const std::vector<std::wstring> restart = test::CRestartOperationsKept::current();
    EXPECT_TRUE(std::none_of(restart.begin(), restart.end(), [&](const std::wstring& name) {
        return name.starts_with(L"\\??\\" + (temp / L"Tidewell"));
    })) << "Tidewell's files wait for the restart";

    for (const std::wstring& file : kInstalledFiles)
    {
        EXPECT_EQ(test::exists(product / file), c.stays != nullptr && file == c.stays) << test::narrow(file);
    }
    EXPECT_EQ(test::exists(product), c.stays != nullptr);
    EXPECT_EQ(test::exists(vendor.path()), !c.vendorFolderGoes);
    EXPECT_EQ(test::exists(other), c.otherProduct);

    // A running program's file waits for the restart in the volume's folder of moved entries.
    if (c.programRuns && c.stays == nullptr)
    {
        const std::wstring moved =
            L"In use, deleted at the next restart: " + product / L"bin\\DemoApp.exe" + L" moved to ";
        const std::size_t line = test::indexOfStart(log, moved);
        ASSERT_LT(line, log.size());
        const CFilePath target(log[line].substr(moved.size()));
        EXPECT_EQ(target.parent(), L"C:\\" + std::wstring(CInUseDeferral::kFolderName));
        EXPECT_TRUE(test::exists(target));
        EXPECT_NE(std::find(restart.begin(), restart.end(), L"\\??\\" + target), restart.end());
        program.reset();
        test::removeTree(target);
        ::RemoveDirectoryW(target.parent().c_str());
    }
}

INSTANTIATE_TEST_SUITE_P(Installers, Uninstall, testing::Combine(testing::ValuesIn(kCases), testing::ValuesIn(kStubs)),
                         caseName);

TEST(MsiUninstall, RemovesTheProductsDataFolder)
{
    const CFilePath package =
        test::buildFolder() / (TIDEWELL_X86 ? L"installers\\msi-x86.msi" : L"installers\\msi-x64.msi");
    ASSERT_TRUE(test::exists(package));
    const CFilePath msiexec = CFilePath(WinAPI::getSystemDirectory()) / L"msiexec.exe";
    // The package names its folders; the program's Program Files is the package's.
    const CFilePath programs = CFilePath(WinAPI::expandEnvironmentStrings(L"%ProgramFiles%")) / L"Demo Vendor";
    const CFilePath data = CFilePath(WinAPI::expandEnvironmentStrings(L"%ProgramData%")) / L"Demo Vendor";
    struct CRemoved
    {
        std::wstring folders[2];
        ~CRemoved()
        {
            for (const std::wstring& folder : folders)
            {
                test::removeTree(folder);
            }
        }
    } cleanUp{{programs, data}};
    test::CRestartOperationsKept restartOperations;

    ASSERT_EQ(test::runProgram(msiexec, L"/i \"" + package + L"\" /qn"), 0u);
    ASSERT_TRUE(test::exists(programs / L"Demo App\\Tidewell.exe"));
    // What the product made at run time, and another product's data beside it.
    test::makeFolder(data);
    test::makeFolder(data / L"Demo App");
    test::makeFolder(data / L"Demo App\\cache");
    test::writeTextFile(data / L"Demo App\\cache\\state.bin");
    test::makeFolder(data / L"Other Product");
    test::writeTextFile(data / L"Other Product\\settings.ini");

    EXPECT_EQ(test::runProgram(msiexec, L"/x \"" + package + L"\" /qn"), 0u);
    const std::vector<std::wstring> log = runLog(data / L"Demo App");
    ASSERT_TRUE(finished(log));
    EXPECT_EQ(log.back(), L"Tidewell finished successfully.");
    EXPECT_FALSE(test::exists(data / L"Demo App"));
    EXPECT_TRUE(test::exists(data / L"Other Product\\settings.ini"));
    // The package's own files go; one that Windows Installer finds still in use waits for the
    // restart instead.
    if (test::exists(programs / L"Demo App"))
    {
        const std::vector<std::wstring> restart = test::CRestartOperationsKept::current();
        for (const std::wstring& name : entriesOf(programs / L"Demo App"))
        {
            const std::wstring path = L"\\??\\" + (programs / L"Demo App" / name);
            EXPECT_NE(std::find(restart.begin(), restart.end(), path), restart.end()) << test::narrow(path);
        }
    }
}
