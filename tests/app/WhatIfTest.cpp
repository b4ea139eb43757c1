// The dry run (/WhatIf): what it reports, and that it changes nothing.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cwctype>
#include <optional>

namespace
{
std::wstring fileTime(const FILETIME& time)
{
    return std::to_wstring((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

// Every entry below folder (links not entered) with its size, attributes and times, the folder
// itself first.
void listTree(const CFilePath& folder, std::vector<std::wstring>& lines)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    EXPECT_TRUE(::GetFileAttributesExW(folder.c_str(), GetFileExInfoStandard, &data)) << test::narrow(folder);
    lines.push_back(folder + L" " + std::to_wstring(data.dwFileAttributes) + L" " + fileTime(data.ftCreationTime) +
                    L" " + fileTime(data.ftLastAccessTime) + L" " + fileTime(data.ftLastWriteTime));
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW((folder / L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
    {
        return;
    }
    do
    {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
        {
            continue;
        }
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
            FILE_ATTRIBUTE_DIRECTORY)
        {
            listTree(folder / name, lines);
            continue;
        }
        lines.push_back(folder / name + L" " + std::to_wstring(found.dwFileAttributes) + L" " +
                        std::to_wstring(found.nFileSizeLow) + L" " + fileTime(found.ftCreationTime) + L" " +
                        fileTime(found.ftLastAccessTime) + L" " + fileTime(found.ftLastWriteTime));
        const std::string content = test::readBytes(folder / name);
        lines.back() += L" " + std::wstring(content.begin(), content.end());
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
}

std::vector<std::wstring> listing(const std::vector<CFilePath>& folders)
{
    std::vector<std::wstring> lines;
    for (const CFilePath& folder : folders)
    {
        listTree(folder, lines);
    }
    return lines;
}

bool saysWould(std::wstring text)
{
    for (wchar_t& c : text)
    {
        c = static_cast<wchar_t>(std::towlower(c));
    }
    return text.find(L"would") != std::wstring::npos;
}
}  // namespace

TEST(WhatIf, DryRunReportsWhatWouldGoAndWhatWouldFailAndChangesNothing)
{
    test::CTempDir dir;
    test::CTempDir outside;
    test::writeTextFile(outside / L"precious.txt", "precious");
    const CFilePath vendor = dir / L"Vendor";
    test::makeFolder(vendor);
    struct CCase
    {
        const char* label;
        bool withTrouble;
    };
    for (const CCase c :
         {CCase{"a held file, a read-only file and a link", true}, CCase{"a tree that would go", false}})
    {
        SCOPED_TRACE(c.label);
        const CFilePath target = vendor / L"App";
        test::makeFolder(target);
        test::makeFolder(target / L"sub");
        test::makeFolder(target / L"sub\\deeper");
        test::writeTextFile(target / L"readonly.txt", "12345");
        ::SetFileAttributesW((target / L"readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY);
        test::writeTextFile(target / L"sub\\a.txt", "abc");
        test::writeTextFile(target / L"sub\\deeper\\b.txt", "b");
        std::optional<test::CChildHolder> holder;
        if (c.withTrouble)
        {
            test::writeTextFile(target / L"held.txt", "held");
            test::makeUnixLink(target / L"link", outside.path());
            holder.emplace(L"hold", target / L"held.txt");
            ASSERT_TRUE(holder->holds());
        }
        const std::vector<CFilePath> trees = {vendor, outside.path()};
        // Listed once before: the first listing of a folder may set its access time.
        listing(trees);
        const std::vector<std::wstring> before = listing(trees);

        const test::CRunResult run = test::runTidewell(
            dir.path(), test::uniqueName(L"tw"),
            L"/Path:" + target + L" /Wait:0 /WhatIf /DeleteSelf /DeferInUse /RemoveEmptyParents:" + dir.path());
        EXPECT_EQ(listing(trees), before) << "the dry run changed something";
        EXPECT_EQ(run.exitCode, c.withTrouble ? 1u : 0u);

        const std::vector<std::wstring> texts = run.texts();
        std::vector<std::wstring> expected;
        if (c.withTrouble)
        {
            // The order of one worker's walk, which follows the folder's listing.
            expected = {L"Would fail: WinAPI::deleteFile(" + (target / L"held.txt") + L") failed.",
                        L"Would fail: WinAPI::deleteLink(" + (target / L"link") + L") failed."};
            if (test::indexOfStart(texts, expected[0]) > test::indexOfStart(texts, expected[1]))
            {
                std::swap(expected[0], expected[1]);
            }
            expected.push_back(L"Would remove 3 files (9 bytes) and 2 folders.");
            expected.push_back(L"Would not remove " + target + L" completely: 2 entries would fail.");
            expected.push_back(L"Would leave the parent folders: " + target + L" would stay.");
            expected.push_back(L"Tidewell return value: 1");
        }
        else
        {
            expected = {
                L"Would remove 3 files (9 bytes) and 3 folders.", L"Would remove the empty parent folder " + vendor,
                L"Would stop removing parent folders at " + dir.path() + L": it is the folder given to stop at.",
                L"Tidewell finished successfully."};
        }
        const std::size_t deleting = test::indexOf(texts, L"Would delete " + target + L" now.");
        ASSERT_EQ(texts.size(), deleting + 1 + expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i)
        {
            EXPECT_TRUE(texts[deleting + 1 + i].starts_with(expected[i]))
                << test::narrow(texts[deleting + 1 + i]) << "\n  expected " << test::narrow(expected[i]);
        }
        // Every line of the dry run says "would"; the last one is the run's own end.
        const std::size_t dry = test::indexOfStart(texts, L"Dry run (/WhatIf)");
        ASSERT_LT(dry, deleting);
        for (std::size_t i = dry; i + 1 < texts.size(); ++i)
        {
            EXPECT_TRUE(saysWould(texts[i])) << test::narrow(texts[i]);
        }
        EXPECT_LT(test::indexOfStart(texts, L"Would remove " + dir / L"tw_"), texts.size()) << "/DeleteSelf";
        const std::size_t commandLine = test::indexOfStart(run.lines, L"   Commandline:");
        ASSERT_LT(commandLine, run.lines.size());
        EXPECT_NE(run.lines[commandLine].find(L" /WhatIf "), std::wstring::npos);
        holder.reset();
        if (c.withTrouble)
        {
            test::removeUnixLink(target / L"link");
        }
        test::removeTree(target);
    }
}
