// Entries that a run keeps inside its target (/Keep), run by the program under Wine.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

TEST(Keep, KeptFolderAndFileStayWithTheirContentsEverythingElseGoesAndNoParentIsRemoved)
{
    test::CTempDir dir;
    const CFilePath vendor = dir / L"Vendor";
    const CFilePath target = vendor / L"App";
    for (const wchar_t* folder :
         {L"", L"\\App", L"\\App\\Data", L"\\App\\Data\\inner", L"\\App\\config", L"\\App\\bin"})
    {
        test::makeFolder(vendor + folder);
    }
    test::writeTextFile(target / L"Data\\inner\\user.db", "user data");
    test::writeTextFile(target / L"Data\\top.txt", "top");
    test::writeTextFile(target / L"config\\settings.ini", "settings");
    test::writeTextFile(target / L"config\\defaults.ini");
    test::writeTextFile(target / L"bin\\app.exe");
    test::writeTextFile(target / L"readme.txt");

    // Other letter case and slashes: the entries are found by what they are, not how they are spelled.
    const test::CRunResult run = test::runTidewell(
        dir.path(), test::uniqueName(L"tw"),
        L"/Path:" + target + L" /Wait:0 /RemoveEmptyParents \"/Keep:data;CONFIG/Settings.ini;gone\\x\"");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(test::readBytes(target / L"Data\\inner\\user.db"), "user data");
    EXPECT_EQ(test::readBytes(target / L"Data\\top.txt"), "top");
    EXPECT_EQ(test::readBytes(target / L"config\\settings.ini"), "settings");
    EXPECT_FALSE(test::exists(target / L"config\\defaults.ini"));
    EXPECT_FALSE(test::exists(target / L"bin"));
    EXPECT_FALSE(test::exists(target / L"readme.txt"));

    const std::vector<std::wstring> texts = run.texts();
    const std::size_t kept = test::indexOf(texts, L"Keeping " + (target / L"Data"));
    ASSERT_LT(kept + 6, texts.size());
    EXPECT_EQ(texts[kept + 1], L"Keeping " + (target / L"config\\settings.ini"));
    EXPECT_EQ(texts[kept + 2], L"The kept path gone\\x names nothing in " + target + L"; nothing is kept for it");
    EXPECT_EQ(texts[kept + 3], L"Deleting " + target + L" now.");
    EXPECT_EQ(texts[kept + 4], L"Kept " + target + L" with only the kept entries and the folders on the way to them.");
    EXPECT_EQ(texts[kept + 5], L"Leaving the parent folders: " + target + L" stays.");
    EXPECT_EQ(texts[kept + 6], L"Tidewell finished successfully.");
}

TEST(Keep, KeptLinksStayAsLinksAndWhatTheyLeadToIsUntouched)
{
    test::CTempDir dir;
    test::CTempDir outside;
    test::makeFolder(outside / L"folder");
    test::writeTextFile(outside / L"folder\\inside.txt", "inside");
    test::writeTextFile(outside / L"file.txt", "file");
    const CFilePath target = dir / L"App";
    test::makeFolder(target);
    test::writeTextFile(target / L"app.exe");
    test::makeUnixLink(target / L"folderlink", outside / L"folder");
    test::makeUnixLink(target / L"filelink", outside / L"file.txt");

    // One link kept by its name, the other by a path through it, which keeps the link itself.
    const test::CRunResult run = test::runTidewell(
        dir.path(), test::uniqueName(L"tw"), L"/Path:" + target + L" /Wait:0 /Keep:filelink;folderlink\\inside.txt");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_FALSE(test::exists(target / L"app.exe"));
    EXPECT_EQ(test::readBytes(target / L"filelink"), "file");
    EXPECT_EQ(test::readBytes(target / L"folderlink\\inside.txt"), "inside");
    EXPECT_EQ(test::readBytes(outside / L"file.txt"), "file");
    EXPECT_EQ(test::readBytes(outside / L"folder\\inside.txt"), "inside");
    const std::vector<std::wstring> texts = run.texts();
    EXPECT_LT(test::indexOf(texts, L"Keeping " + (target / L"filelink")), texts.size());
    EXPECT_LT(
        test::indexOf(texts, L"Keeping the link " + (target / L"folderlink") +
                                 L": the kept path folderlink\\inside.txt leads through it, and no link is followed"),
        texts.size());
    test::removeUnixLink(target / L"folderlink");
    test::removeUnixLink(target / L"filelink");
}
