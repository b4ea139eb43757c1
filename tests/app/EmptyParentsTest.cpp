// The removal of the target's empty parents (/RemoveEmptyParents), run by the program under Wine.
#include "support/TestSupport.h"
#include "win/SystemCalls.h"

#include <gtest/gtest.h>

#include <knownfolders.h>

#include <memory>

namespace
{
// The texts of the run from its deletion on.
std::vector<std::wstring> textsFromTheDeletion(const test::CRunResult& run)
{
    const std::vector<std::wstring> texts = run.texts();
    const std::size_t deleting = test::indexOfStart(texts, L"Deleting ");
    return deleting < texts.size() ? std::vector<std::wstring>(texts.begin() + deleting + 1, texts.end())
                                   : std::vector<std::wstring>();
}

// Q:, the test prefix's spare drive, spelled as the folder it maps (scripts/wine-prefix.sh), on
// another drive.
std::wstring spareDriveElsewhere()
{
    return test::buildFolder() / L"qdrive";
}
}  // namespace

TEST(EmptyParents, RemovedUpwardWhileEmptyAndNeverAVolumeRootASystemFolderOrALink)
{
    test::CTempDir dir;
    const CFilePath programFiles = WinAPI::shGetSpecialFolderPath();
    const std::wstring systemFolder = L"it is or holds the system's folder " + programFiles + L".";
    struct CCase
    {
        const char* label;
        CFilePath vendor;
        std::wstring value;
        // Where the removal stops and why, and whether the vendor folder goes.
        CFilePath stop;
        std::wstring reason;
        bool vendorGoes;
    };
    const CFilePath inProgramFiles = programFiles / test::uniqueName(L"Vendor");
    const CFilePath inProgramFilesToo = programFiles / test::uniqueName(L"Vendor");
    const CFilePath shared = programFiles / test::uniqueName(L"Vendor");
    const CFilePath onSpareDrive = CFilePath(L"Q:\\") / test::uniqueName(L"Vendor");
    const CFilePath onSpareDriveToo = CFilePath(L"Q:\\") / test::uniqueName(L"Vendor");
    const CFilePath below = dir / L"Top\\Vendor";
    const CFilePath linked = dir / L"link";
    // An empty folder of the users' own files (the test prefix makes Public's Music as one).
    const CFilePath publicMusic = WinAPI::getKnownFolderPath(FOLDERID_PublicMusic, L"PublicMusic");
    const CFilePath inPublicMusic = publicMusic / test::uniqueName(L"Vendor");
    const std::vector<CCase> cases = {
        {"vendor folder in Program Files", inProgramFiles, L"", programFiles, systemFolder, true},
        {"the volume root given", inProgramFilesToo, L"C:\\", programFiles, systemFolder, true},
        {"another product beside", shared, L"", shared, L"it is not empty.", false},
        {"spare drive", onSpareDrive, L"", L"Q:\\", L"it is a volume's or a share's root.", true},
        {"its root by another drive", onSpareDriveToo, spareDriveElsewhere(), L"Q:\\",
         L"it is a volume's or a share's root.", true},
        {"a folder to stop at", below, dir / L"Top", dir / L"Top", L"it is the folder given to stop at.", true},
        {"a link on the way", linked, L"", linked, L"it is a link or a mount point.", false},
        {"in the users' Music", inPublicMusic, L"", publicMusic,
         L"it is or holds the system's folder " + publicMusic + L".", true},
    };
    test::makeFolder(dir / L"Top");
    test::makeFolder(dir / L"real");
    test::makeUnixLink(linked, dir / L"real");
    std::vector<test::CParallelRun> runs;
    for (const CCase& c : cases)
    {
        test::makeFolder(c.vendor);
        test::makeFolder(c.vendor / L"Product");
        test::writeTextFile(c.vendor / L"Product\\file.txt");
        // Unquoted: a quoted value ending in a backslash would lose its closing quote.
        const std::wstring stopAt = c.value.empty() ? std::wstring() : L":" + c.value;
        runs.push_back({L"/Path:\"" + (c.vendor / L"Product") + L"\" /Wait:0 /RemoveEmptyParents" + stopAt, L"", {}});
    }
    test::makeFolder(shared / L"Other");
    test::runTogether(dir.path(), runs);
    for (std::size_t i = 0; i < cases.size(); ++i)
    {
        const CCase& c = cases[i];
        SCOPED_TRACE(c.label);
        EXPECT_EQ(runs[i].result.exitCode, 0u);
        EXPECT_FALSE(test::exists(c.vendor / L"Product"));
        std::vector<std::wstring> expected;
        if (c.vendorGoes)
        {
            expected.push_back(L"Removed the empty parent folder " + c.vendor);
        }
        expected.push_back(L"Stopped removing parent folders at " + c.stop + L": " + c.reason);
        expected.push_back(L"Tidewell finished successfully.");
        EXPECT_EQ(textsFromTheDeletion(runs[i].result), expected);
        EXPECT_EQ(test::exists(c.vendor), !c.vendorGoes);
        EXPECT_TRUE(test::exists(c.stop));
    }
    EXPECT_TRUE(test::exists(shared / L"Other"));
    EXPECT_TRUE(test::exists(dir / L"real"));
    test::removeUnixLink(linked);
    // What a failed case left outside the test's folder.
    for (const CCase& c : cases)
    {
        if (c.vendor != linked)
        {
            test::removeTree(c.vendor);
        }
    }
}
