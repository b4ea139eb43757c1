#include "fs/FolderDeletion.h"
#include "win/EntryCalls.h"
#include "win/ErrorText.h"
#include "win/FileCalls.h"
#include "win/TavException.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <thread>

namespace
{
std::wstring verbatim(const std::wstring& path)
{
    return L"\\\\?\\" + path;
}

void createVerbatimFile(const std::wstring& path)
{
    HANDLE file = ::CreateFileW(verbatim(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ::CloseHandle(file);
}

CTavException deletionError(const CFilePath& path, const EntryObserver& beforeOpening = {}, unsigned workers = 0)
{
    try
    {
        deleteCompletely(path, beforeOpening, nullptr, workers);
    }
    catch (const CTavException& error)
    {
        return error;
    }
    ADD_FAILURE() << "the deletion did not fail";
    return CTavException(0, L"");
}
}  // namespace

TEST(FolderDeletion, MissingPathIsNotAnError)
{
    test::CTempDir dir;
    EXPECT_NO_THROW(deleteCompletely(dir / L"missing"));
    EXPECT_NO_THROW(deleteCompletely(CFilePath()));
}

TEST(FolderDeletion, RemovesTreeWithReadOnlyHiddenAndSystemEntries)
{
    test::CTempDir dir;
    const CFilePath root = dir / L"tree";
    test::makeFolder(root);
    test::makeFolder(root / L"empty");
    test::makeFolder(root / L"full");
    test::makeFolder(root / L"full\\deeper");
    test::makeFolder(root / L"full\\deeper\\empty");
    for (const wchar_t* name : {L"plain.txt", L"full\\ro.txt", L"full\\hidden.txt", L"full\\deeper\\system.txt"})
    {
        test::writeTextFile(root / name);
    }
    ::SetFileAttributesW((root / L"full\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    ::SetFileAttributesW((root / L"full\\hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
    ::SetFileAttributesW((root / L"full\\deeper\\system.txt").c_str(), FILE_ATTRIBUTE_SYSTEM);
    ::SetFileAttributesW((root / L"full\\deeper").c_str(), FILE_ATTRIBUTE_HIDDEN);

    deleteCompletely(root);
    EXPECT_FALSE(test::exists(root));
    EXPECT_TRUE(test::exists(dir.path()));
}

TEST(FolderDeletion, RemovesSingleReadOnlyFile)
{
    test::CTempDir dir;
    test::writeTextFile(dir / L"ro.txt");
    test::writeTextFile(dir / L"other.txt");
    ::SetFileAttributesW((dir / L"ro.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    deleteCompletely(dir / L"ro.txt");
    EXPECT_FALSE(test::exists(dir / L"ro.txt"));
    EXPECT_TRUE(test::exists(dir / L"other.txt"));
}

TEST(FolderDeletion, ReadOnlyFileLinkedFromOutsideKeepsTheAttributeThere)
{
    test::CTempDir dir;
    const CFilePath outside = dir / L"outside.txt";
    test::writeTextFile(outside);
    ::SetFileAttributesW(outside.c_str(), FILE_ATTRIBUTE_READONLY);
    const CFilePath root = dir / L"tree";
    test::makeFolder(root);
    ASSERT_TRUE(::CreateHardLinkW((root / L"linked.txt").c_str(), outside.c_str(), nullptr));

    deleteCompletely(root);
    EXPECT_FALSE(test::exists(root));
    EXPECT_EQ(::GetFileAttributesW(outside.c_str()) & FILE_ATTRIBUTE_READONLY,
              static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
}

TEST(FolderDeletion, FolderRemovedByAnotherDeleterDuringTheWalkIsNoFailure)
{
    test::CTempDir dir;
    const CFilePath root = dir / L"tree";
    test::makeFolder(root);
    test::makeFolder(root / L"sub");
    for (const wchar_t* name : {L"sub\\a.txt", L"sub\\b.txt", L"sub\\c.txt"})
    {
        test::writeTextFile(root / name);
    }
    // Between the listing of sub and the opening of its first entry, sub goes with everything in it.
    bool removed = false;
    EXPECT_NO_THROW(deleteCompletely(root, [&](const CFilePath& entry) {
        if (!removed && entry.parent() == root / L"sub")
        {
            removed = true;
            test::removeTree(root / L"sub");
        }
    }));
    EXPECT_TRUE(removed);
    EXPECT_FALSE(test::exists(root));
}

TEST(FolderDeletion, TreeEmptiedFromOutsideDuringTheWalkIsNoFailure)
{
    test::CTempDir dir;
    const CFilePath root = dir / L"tree";
    test::makeFolder(root);
    for (int folder = 0; folder < 20; ++folder)
    {
        const CFilePath sub = root / (L"sub" + std::to_wstring(folder));
        test::makeFolder(sub);
        for (int file = 0; file < 100; ++file)
        {
            test::writeTextFile(sub / (L"f" + std::to_wstring(file)));
        }
    }
    // Another program removes the whole tree while the walk is in it: entries vanish between being
    // opened and being checked.
    bool started = false;
    EXPECT_NO_THROW(deleteCompletely(
        root,
        [&](const CFilePath&) {
            if (!started)
            {
                started = true;
                test::startUnixProgram(L"/bin/rm -rf \"" + test::unixPath(root) + L"\"");
            }
        },
        nullptr, 1));
    EXPECT_TRUE(test::waitUntil([&] { return !test::exists(root); }));
}

TEST(FolderDeletion, FileHeldWithoutDeleteSharingIsReportedAndEverythingElseGoes)
{
    test::CTempDir dir;
    const CFilePath root = dir / L"tree";
    test::makeFolder(root);
    test::makeFolder(root / L"sub");
    test::writeTextFile(root / L"held.txt");
    test::writeTextFile(root / L"a.txt");
    test::writeTextFile(root / L"sub\\b.txt");
    test::CChildHolder held(L"hold", root / L"held.txt");

    const CTavException error = deletionError(root);
    EXPECT_EQ(error.errorCode, static_cast<std::uint32_t>(ERROR_DIR_NOT_EMPTY));
    const std::wstring expected = L"WinAPI::deleteFile(" + (root / L"held.txt") + L") failed. Error message: " +
                                  WinAPI::getErrorText(ERROR_SHARING_VIOLATION) + L"\nWinAPI::removeDirectory(" + root +
                                  L") failed. Error message: " + WinAPI::getErrorText(ERROR_DIR_NOT_EMPTY) + L"\n";
    EXPECT_EQ(error.message, expected);
    EXPECT_TRUE(test::exists(root / L"held.txt"));
    EXPECT_FALSE(test::exists(root / L"a.txt"));
    EXPECT_FALSE(test::exists(root / L"sub"));
}

TEST(FolderDeletion, FolderThatAnotherProcessHoldsAsItsCurrentDirectoryIsEmptied)
{
    for (const wchar_t* heldName : {L"tree\\sub", L"tree"})
    {
        test::CTempDir dir;
        const CFilePath root = dir / L"tree";
        const CFilePath held = dir / heldName;
        test::makeFolder(root);
        test::makeFolder(root / L"sub");
        test::makeFolder(root / L"sub\\deeper");
        test::writeTextFile(root / L"a.txt");
        test::writeTextFile(root / L"sub\\b.txt");
        test::writeTextFile(root / L"sub\\deeper\\c.txt");
        test::CChildHolder holder(L"cwd", held);

        const CTavException error = deletionError(root);
        const std::wstring sharing = L" Error message: " + WinAPI::getErrorText(ERROR_SHARING_VIOLATION) + L"\n";
        std::wstring expected = L"WinAPI::removeDirectory(" + held + L") failed." + sharing;
        if (held != root)
        {
            // Nested: the subfolder's list, then its code's text.
            expected += sharing + L"WinAPI::removeDirectory(" + root + L") failed. Error message: " +
                        WinAPI::getErrorText(ERROR_DIR_NOT_EMPTY) + L"\n";
        }
        EXPECT_EQ(error.message, expected) << "held: " << test::narrow(heldName);
        // Only the held folder is left, and it is empty.
        EXPECT_TRUE(test::exists(held));
        EXPECT_FALSE(test::exists(root / L"a.txt"));
        EXPECT_FALSE(test::exists(root / L"sub\\b.txt"));
        EXPECT_FALSE(test::exists(root / L"sub\\deeper"));
    }
}

TEST(FolderDeletion, FailuresOneLevelDeeperNest)
{
    test::CTempDir dir;
    const CFilePath root = dir / L"tree";
    test::makeFolder(root);
    test::makeFolder(root / L"inner");
    test::writeTextFile(root / L"inner\\held.txt");
    test::CChildHolder held(L"hold", root / L"inner\\held.txt");

    const CTavException error = deletionError(root);
    const std::wstring inner = L"WinAPI::deleteFile(" + (root / L"inner\\held.txt") + L") failed. Error message: " +
                               WinAPI::getErrorText(ERROR_SHARING_VIOLATION) + L"\nWinAPI::removeDirectory(" +
                               (root / L"inner") + L") failed. Error message: " +
                               WinAPI::getErrorText(ERROR_DIR_NOT_EMPTY) + L"\n";
    const std::wstring expected = inner + L" Error message: " + WinAPI::getErrorText(ERROR_DIR_NOT_EMPTY) +
                                  L"\nWinAPI::removeDirectory(" + root + L") failed. Error message: " +
                                  WinAPI::getErrorText(ERROR_DIR_NOT_EMPTY) + L"\n";
    EXPECT_EQ(error.message, expected);
    EXPECT_EQ(error.errorCode, static_cast<std::uint32_t>(ERROR_DIR_NOT_EMPTY));
}

TEST(FolderDeletion, SeveralWorkersReportTheFailuresOfOneWorkerInItsOrder)
{
    test::CTempDir dir;
    const CFilePath root = dir / L"tree";
    // Held files at several depths, in subfolders that workers take and in a folder large enough
    // to be shared out among them.
    const std::vector<std::wstring> held = {
        L"held.txt",       L"a\\held.txt",        L"a\\b\\c\\held.txt",    L"wide\\f37.txt",
        L"wide\\f150.txt", L"many\\s3\\held.txt", L"many\\s7\\x\\held.txt"};
    std::vector<std::wstring> messages;
    for (const unsigned workers : {1u, 4u})
    {
        test::makeFolder(root);
        for (const wchar_t* folder : {L"a", L"a\\b", L"a\\b\\c", L"wide", L"many"})
        {
            test::makeFolder(root / folder);
        }
        for (int i = 0; i < 200; ++i)
        {
            test::writeTextFile(root / (L"wide\\f" + std::to_wstring(i) + L".txt"));
        }
        for (int i = 0; i < 10; ++i)
        {
            test::makeFolder(root / (L"many\\s" + std::to_wstring(i)));
            test::writeTextFile(root / (L"many\\s" + std::to_wstring(i) + L"\\file.txt"));
        }
        test::makeFolder(root / L"many\\s7\\x");
        std::vector<CUniqueFile> holders;
        for (const std::wstring& name : held)
        {
            test::writeTextFile(root / name);
            holders.emplace_back(::CreateFileW((root / name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                               OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(holders.back().isValid());
        }
        messages.push_back(deletionError(root, {}, workers).message);
        holders.clear();
        test::removeTree(root);
    }
    EXPECT_EQ(messages[0], messages[1]);
    for (const std::wstring& name : held)
    {
        EXPECT_NE(messages[0].find(L"WinAPI::deleteFile(" + (root / name) + L") failed."), std::wstring::npos);
    }
}

TEST(FolderDeletion, FileHeldWithDeleteSharingIsAwaitedUntilItsHolderLetsGo)
{
    test::CTempDir dir;
    const CFilePath root = dir / L"tree";
    test::makeFolder(root);
    test::writeTextFile(root / L"shared.txt");
    test::CChildHolder held(L"holdshared", root / L"shared.txt");
    // The holder lets go shortly after the deletion has started, well within the deletion's
    // wait for the file to disappear (the platform shows no sign of a pending deletion to wait on).
    std::thread releaser([&held] {
        ::Sleep(100);
        held.release();
    });
    EXPECT_NO_THROW(deleteCompletely(root));
    releaser.join();
    EXPECT_FALSE(test::exists(root));
}

TEST(FolderDeletion, WaitForAFileThatStaysOpenIsBounded)
{
    test::CTempDir dir;
    const CFilePath file = dir / L"shared.txt";
    test::writeTextFile(file);
    test::CChildHolder held(L"holdshared", file);
    const CTavException error = deletionError(file);
    EXPECT_EQ(error.errorCode, static_cast<std::uint32_t>(ERROR_TIMEOUT));
    EXPECT_EQ(error.message, L"WinAPI::deleteFile(" + file + L") failed.");
}

TEST(FolderDeletionGuards, EveryFormOfADriveRootIsRefused)
{
    // Q: is a spare drive of the test prefix: never the prefix's own C:.
    const std::wstring marker = L"Q:\\" + test::uniqueName(L"keep");
    test::makeFolder(marker);
    test::writeTextFile(marker + L"\\file.txt");
    wchar_t saved[MAX_PATH];
    ::GetCurrentDirectoryW(MAX_PATH, saved);
    ASSERT_TRUE(::SetCurrentDirectoryW(marker.c_str()));
    for (const wchar_t* root : {L"Q:\\", L"Q:", L"q:/", L"Q:\\.", L"Q:\\x\\..", L"\\\\?\\Q:\\", L"\\\\.\\Q:\\",
                                L"\\\\.\\Q:", L"\\", L".\\.."})
    {
        try
        {
            deleteCompletely(CFilePath(root));
            ADD_FAILURE() << "no exception for root " << CFilePath(root).size();
        }
        catch (const CTavException& error)
        {
            EXPECT_EQ(error.errorCode, 0xFFFFFFFFu);
            EXPECT_EQ(error.message, L"Do Not EMPTY complete Disks");
        }
        EXPECT_TRUE(test::exists(marker + L"\\file.txt"));
    }
    ::SetCurrentDirectoryW(saved);
    test::removeTree(marker);
}

TEST(FolderDeletionGuards, MissingDriveRootIsNotAnError)
{
    EXPECT_NO_THROW(deleteCompletely(CFilePath(L"R:\\")));
}

TEST(FolderDeletionGuards, WildcardsMatchNothingAndAreNoMissingEntry)
{
    test::CTempDir dir;
    test::writeTextFile(dir / L"a.txt");
    test::makeFolder(dir / L"sub");
    // No entry can have such a name: that is an error to report, not an entry that is missing.
    for (const wchar_t* pattern : {L"*", L"*.txt", L"a.tx?", L"su<", L"a\"txt"})
    {
        EXPECT_THROW(deleteCompletely(dir / pattern), CTavException) << test::narrow(pattern);
    }
    EXPECT_TRUE(test::exists(dir / L"a.txt"));
    EXPECT_TRUE(test::exists(dir / L"sub"));
}

TEST(FolderDeletionGuards, OnlyNotFoundMeansMissing)
{
    test::CTempDir dir;
    test::writeTextFile(dir / L"a.txt");
    const auto open = [&](DWORD access) {
        return CUniqueFile(::CreateFileW(dir.path().c_str(), access | SYNCHRONIZE, 7, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    };
    WinAPI::DirectoryEntry entry;
    const CUniqueFile listing = open(FILE_LIST_DIRECTORY);
    EXPECT_FALSE(WinAPI::findListedEntry(listing.get(), L"missing.txt", entry, dir / L"missing.txt"));
    // A folder that may be traversed but not listed says nothing about its entries.
    const CUniqueFile traverseOnly = open(FILE_TRAVERSE);
    try
    {
        WinAPI::findListedEntry(traverseOnly.get(), L"a.txt", entry, dir / L"a.txt");
        ADD_FAILURE() << "a refused listing was taken for an answer";
    }
    catch (const CTavException& error)
    {
        EXPECT_EQ(error.errorCode, static_cast<std::uint32_t>(ERROR_ACCESS_DENIED));
    }
}

TEST(FolderDeletionGuards, LinksIntoAFolderWhoseNameLooksAlikeAreReportedAndTheirTargetsKept)
{
    // Wine names "tree." as "tree": a link at "tree\a" to "tree.\a" passes the check of names.
    for (const wchar_t* twin : {L"tree.", L"tree "})
    {
        test::CTempDir dir;
        const CFilePath root = dir / L"tree";
        test::makeFolder(root);
        test::writeTextFile(root / L"other.txt");
        ASSERT_TRUE(::CreateDirectoryW(verbatim(dir / twin).c_str(), nullptr));
        createVerbatimFile(dir / twin + L"\\victim");
        test::makeUnixLink(root / L"victim", verbatim(dir / twin + L"\\victim"));

        const CTavException error = deletionError(root);
        EXPECT_NE(error.message.find(L"WinAPI::deleteFile(" + (root / L"victim") + L") failed."), std::wstring::npos)
            << test::narrow(error.message);
        EXPECT_NE(::GetFileAttributesW(verbatim(dir / twin + L"\\victim").c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_FALSE(test::exists(root / L"other.txt"));
    }
}

TEST(FolderDeletionGuards, LinksAreNeverEntered)
{
    test::CTempDir dir;
    test::CTempDir outside;
    test::writeTextFile(outside / L"precious.txt");
    test::CTempDir emptyOutside;
    const CFilePath root = dir / L"tree";
    test::makeFolder(root);
    test::writeTextFile(root / L"a.txt");
    test::makeUnixLink(root / L"link", outside.path());
    test::makeUnixLink(root / L"emptylink", emptyOutside.path());
    test::makeUnixLink(root / L"filelink", outside / L"precious.txt");

    bool linkReported = false;
    try
    {
        deleteCompletely(root);
    }
    catch (const CTavException& error)
    {
        linkReported =
            error.message.find(L"WinAPI::deleteLink(" + (root / L"link") + L") failed.") != std::wstring::npos;
    }
    // Either the link itself is gone, or (where the platform cannot remove a link without reaching
    // its target) it stays and is reported.
    EXPECT_TRUE(linkReported || !test::exists(root / L"link"));
    EXPECT_TRUE(test::exists(outside / L"precious.txt"));
    EXPECT_TRUE(test::exists(emptyOutside.path()));
    EXPECT_FALSE(test::exists(root / L"a.txt"));
}

TEST(FolderDeletionGuards, FoldersSwappedForLinksAfterTheListingAreNeverEntered)
{
    // On one thread, and with workers that take all but the last of the folders.
    for (const unsigned workers : {1u, 4u})
    {
        SCOPED_TRACE(workers);
        test::CTempDir dir;
        test::CTempDir canaries;
        test::writeTextFile(canaries / L"canary.txt");
        const CFilePath root = dir / L"tree";
        const std::vector<CFilePath> folders = {root / L"sub0", root / L"sub1", root / L"sub2"};
        test::makeFolder(root);
        for (const CFilePath& folder : folders)
        {
            test::makeFolder(folder);
            test::writeTextFile(folder / L"inside.txt");
        }

        // Between the listing of the tree and the opening of each folder, it becomes a link to the
        // canaries.
        const CTavException error = deletionError(
            root,
            [&](const CFilePath& entry) {
                if (entry.parent() == root)
                {
                    test::removeTree(entry);
                    test::makeUnixLink(entry, canaries.path());
                }
            },
            workers);
        EXPECT_TRUE(test::exists(canaries / L"canary.txt"));
        for (const CFilePath& folder : folders)
        {
            EXPECT_NE(error.message.find(L"WinAPI::removeDirectory(" + folder + L") failed."), std::wstring::npos);
        }
    }
}

TEST(FolderDeletionGuards, VerbatimPathNamesExactlyItsEntry)
{
    test::CTempDir dir;
    test::makeFolder(dir / L"data");
    test::writeTextFile(dir / L"data\\keep.txt");
    ASSERT_TRUE(::CreateDirectoryW(verbatim(dir / L"data.").c_str(), nullptr));
    createVerbatimFile(dir / L"data.\\inside");

    deleteCompletely(CFilePath(verbatim(dir / L"data.")));
    EXPECT_EQ(::GetFileAttributesW(verbatim(dir / L"data.").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(test::exists(dir / L"data\\keep.txt"));
}

TEST(FolderDeletionGuards, NamesThatWin32RulesWouldAlterAreDeleted)
{
    test::CTempDir dir;
    const CFilePath root = dir / L"tree";
    test::makeFolder(root);
    for (const wchar_t* name : {L"dot.", L"blank ", L"NUL", L"con.txt", L"aux"})
    {
        createVerbatimFile(root + L"\\" + name);
    }
    ASSERT_TRUE(::CreateDirectoryW(verbatim(root + L"\\folder.").c_str(), nullptr));
    createVerbatimFile(root + L"\\folder.\\inside");

    // A path far beyond 260 characters.
    std::wstring deep = root;
    for (int i = 0; i < 30; ++i)
    {
        deep += L"\\" + std::wstring(20, static_cast<wchar_t>(L'a' + i % 26));
        ASSERT_TRUE(::CreateDirectoryW(verbatim(deep).c_str(), nullptr));
    }
    createVerbatimFile(deep + L"\\leaf.txt");

    EXPECT_NO_THROW(deleteCompletely(root));
    EXPECT_EQ(::GetFileAttributesW(verbatim(root).c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(FolderDeletionGuards, CurrentDirectoryInsideTheTargetIsLeftFirst)
{
    test::CTempDir dir;
    const CFilePath root = dir / L"tree";
    test::makeFolder(root);
    test::makeFolder(root / L"sub");
    wchar_t saved[MAX_PATH];
    ::GetCurrentDirectoryW(MAX_PATH, saved);
    ASSERT_TRUE(::SetCurrentDirectoryW((root / L"sub").c_str()));
    EXPECT_NO_THROW(deleteCompletely(root));
    EXPECT_FALSE(test::exists(root));
    ::SetCurrentDirectoryW(saved);
}
