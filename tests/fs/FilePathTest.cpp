#include "fs/DirectoryIterator.h"
#include "fs/FilePath.h"
#include "win/SystemCalls.h"
#include "win/TavException.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

TEST(FilePathNormalForm, SeparatorsAndDoubledBackslashes)
{
    EXPECT_EQ(CFilePath(L"C:/a//b/"), L"C:\\a\\b");
    EXPECT_EQ(CFilePath(L"\\\\server\\\\share\\"), L"\\\\server\\share");
    EXPECT_EQ(CFilePath(L"\\\\\\\\server\\share"), L"\\\\server\\share");
    EXPECT_EQ(CFilePath(L"\\??\\C:\\x"), L"C:\\x");
    EXPECT_EQ(CFilePath(L"a\\\\\\b\\\\"), L"a\\b");
}

TEST(FilePathNormalForm, RootsAndEmptyTexts)
{
    EXPECT_EQ(CFilePath(L"C:"), L"C:\\");
    EXPECT_EQ(CFilePath(L"C:\\"), L"C:\\");
    EXPECT_EQ(CFilePath(L"\\\\?\\C:\\"), L"\\\\?\\C:\\");
    EXPECT_EQ(CFilePath(L""), L"");
    EXPECT_EQ(CFilePath(static_cast<const wchar_t*>(nullptr)), L"");
    EXPECT_EQ(CFilePath(L"\\"), L"\\");
    EXPECT_EQ(CFilePath(L"\\\\"), L"\\");
}

TEST(FilePathRoots, DriveNetworkAndLongForms)
{
    EXPECT_TRUE(CFilePath(L"C:\\").isDriveRoot());
    EXPECT_TRUE(CFilePath(L"\\\\?\\D:\\").isDriveRoot());
    EXPECT_FALSE(CFilePath(L"C:\\x").isDriveRoot());

    EXPECT_TRUE(CFilePath(L"\\\\server\\share").isNetworkPath());
    EXPECT_TRUE(CFilePath(L"\\\\?\\UNC\\server\\share").isNetworkPath());
    EXPECT_FALSE(CFilePath(L"\\\\?\\C:\\x").isNetworkPath());
    EXPECT_FALSE(CFilePath(L"C:\\x").isNetworkPath());

    for (const wchar_t* root :
         {L"\\", L"C:\\", L"\\\\server\\share", L"\\\\?\\C:\\", L"\\\\?\\UNC\\server\\share", L"\\\\?\\Volume{0b1c}"})
    {
        EXPECT_TRUE(CFilePath(root).isRoot()) << CFilePath(root).size();
    }
    for (const wchar_t* notRoot : {L"relative", L"C:\\x", L"\\\\server", L"\\\\server\\share\\dir", L"\\x",
                                   L"\\\\?\\UNC\\server\\share\\dir", L"\\\\?\\C:\\x"})
    {
        EXPECT_FALSE(CFilePath(notRoot).isRoot()) << CFilePath(notRoot).size();
    }
}

TEST(FilePathOperations, ParentAndFileName)
{
    EXPECT_EQ(CFilePath(L"C:\\dir").parent(), L"C:\\");
    EXPECT_EQ(CFilePath(L"C:\\").parent(), L"C:\\");
    EXPECT_EQ(CFilePath(L"C:\\a\\b").parent(), L"C:\\a");
    EXPECT_EQ(CFilePath(L"\\\\server\\share").parent(), L"\\\\server\\share");
    EXPECT_EQ(CFilePath(L"\\\\server\\share\\d").parent(), L"\\\\server\\share");
    EXPECT_EQ(CFilePath(L"\\\\?\\UNC\\server\\share\\d").parent(), L"\\\\?\\UNC\\server\\share");
    EXPECT_EQ(CFilePath(L"name").parent(), L"");
    EXPECT_EQ(CFilePath(L"C:\\dir\\file.txt").fileName(), L"file.txt");
    EXPECT_EQ(CFilePath(L"file.txt").fileName(), L"file.txt");
}

TEST(FilePathOperations, Extensions)
{
    EXPECT_EQ(CFilePath(L"C:\\dir.d\\file").extension(), L"d\\file");
    EXPECT_EQ(CFilePath(L"C:\\dir.d\\file").withoutExtension(), L"C:\\dir");
    EXPECT_EQ(CFilePath(L"C:\\dir\\setup.exe").withExtension(L"vbs"), L"C:\\dir\\setup.vbs");
    EXPECT_EQ(CFilePath(L"C:\\dir\\a.b.exe").withExtension(L"dump"), L"C:\\dir\\a.b.dump");
    EXPECT_EQ(CFilePath(L"C:\\dir\\setup").withExtension(L"vbs"), L"C:\\dir\\setup.vbs");
    EXPECT_EQ(CFilePath(L"C:\\dir\\setup").extension(), L"");
}

TEST(FilePathOperations, CombineAndQuote)
{
    EXPECT_EQ(CFilePath::combine(L"C:\\a", L"b"), L"C:\\a\\b");
    EXPECT_EQ(CFilePath::combine(L"C:\\", L"b"), L"C:\\b");
    EXPECT_EQ(CFilePath::combine(L"C:\\a", L"\\b"), L"C:\\a\\b");
    EXPECT_EQ(CFilePath::combine(L"", L"b\\"), L"b");
    EXPECT_EQ(CFilePath(L"C:\\a\\b").quoted(), L"C:\\a\\b");
    EXPECT_EQ(CFilePath(L"C:\\a b\\c").quoted(), L"\"C:\\a b\\c\"");
}

TEST(FilePathFileSystem, ExistsAndWildcards)
{
    test::CTempDir dir;
    test::writeTextFile(dir / L"file.txt");
    EXPECT_FALSE(CFilePath().exists());
    EXPECT_TRUE(dir.path().exists());
    EXPECT_TRUE((dir / L"file.txt").exists());
    EXPECT_FALSE((dir / L"missing").exists());
    EXPECT_TRUE(CFilePath(WinAPI::getWindowsDirectory()).parent().exists());  // a drive root
    // A pattern matches files, but it does not name one.
    EXPECT_FALSE((dir / L"*").exists());
    EXPECT_FALSE((dir / L"file.tx?").exists());
}

TEST(FilePathFileSystem, CreateDirectoriesMakesEveryMissingLevel)
{
    test::CTempDir dir;
    const CFilePath deep = dir / L"a\\b\\c";
    deep.createDirectories();
    EXPECT_TRUE(test::exists(deep));
    deep.createDirectories();  // existing: nothing to do
}

TEST(FilePathFileSystem, CreateDirectoriesStopsAtAMissingDrive)
{
    // No drive R: in the test prefix: the creation fails instead of descending forever.
    ASSERT_EQ(::GetDriveTypeW(L"R:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
    EXPECT_THROW(CFilePath(L"R:\\a\\b").createDirectories(), CTavException);
}

TEST(DirectoryIterator, ListsEntriesWithoutDotsAndEndsOnEmptyOrMissingFolders)
{
    test::CTempDir dir;
    test::makeFolder(dir / L"empty");
    EXPECT_TRUE(CDirectoryIterator(dir / L"empty", L"*").atEnd());
    EXPECT_TRUE(CDirectoryIterator(dir / L"missing", L"*").atEnd());
    EXPECT_TRUE(CDirectoryIterator(dir / L"missing", L"*") == CDirectoryIterator());

    test::writeTextFile(dir / L"f1");
    ::SetFileAttributesW((dir / L"f1").c_str(), FILE_ATTRIBUTE_HIDDEN);
    std::vector<std::wstring> names;
    for (CDirectoryIterator entry(dir.path(), L"*"); !entry.atEnd(); entry.advance())
    {
        names.push_back(entry.current());
        EXPECT_EQ(CFilePath::combine(dir.path(), entry.name()), entry.current());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::wstring>{dir / L"empty", dir / L"f1"}));
}
