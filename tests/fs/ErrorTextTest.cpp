#include "fs/FilePath.h"
#include "win/ErrorText.h"
#include "win/FileCalls.h"
#include "win/ProcessCalls.h"
#include "win/SharedHolder.h"
#include "win/SystemCalls.h"
#include "win/TavException.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace
{
bool isOpenHandle(HANDLE handle)
{
    DWORD flags = 0;
    return ::GetHandleInformation(handle, &flags) != 0;
}
}  // namespace

TEST(ErrorText, FullTextIsMessageSystemTextWithoutLineBreaksAndTheCode)
{
    const std::wstring text = CTavException(5, L"WinAPI::x() failed.").fullText();
    EXPECT_TRUE(text.starts_with(L"WinAPI::x() failed. Error message: "));
    EXPECT_EQ(text.find_first_of(L"\r\n"), std::wstring::npos);
    EXPECT_NE(text.find(L"ccess"), std::wstring::npos) << "expected the text for access denied";
    EXPECT_TRUE(text.ends_with(L" Error code 0x00000005 (5).")) << std::string(text.begin(), text.end());
}

TEST(ErrorText, UnknownCodeHasTheFallbackText)
{
    EXPECT_EQ(WinAPI::getErrorText(0xFFFFFFFF), L"No message text available. Error code 0xffffffff (4294967295).");
}

TEST(WinAPIWrappers, MissingPathsAreNotErrors)
{
    test::CTempDir dir;
    EXPECT_NO_THROW(WinAPI::deleteFile(dir / L"missing"));
    EXPECT_NO_THROW(WinAPI::removeDirectory(dir / L"missing"));
}

TEST(WinAPIWrappers, CreateDirectoryOnExistingFolderAndFile)
{
    test::CTempDir dir;
    EXPECT_TRUE(WinAPI::createDirectory(dir.path()));
    test::writeTextFile(dir / L"file");
    try
    {
        WinAPI::createDirectory(dir / L"file");
        FAIL() << "no exception";
    }
    catch (const CTavException& error)
    {
        EXPECT_EQ(error.errorCode, 183u);
        EXPECT_EQ(error.message, L"WinAPI::createDirectory(" + (dir / L"file") + L") failed.");
    }
}

TEST(WinAPIWrappers, FindNextFileEndsWithFalse)
{
    test::CTempDir dir;
    WIN32_FIND_DATAW data;
    const CSharedFindHandle search = WinAPI::findFirstFile(dir / L"*", data);
    ASSERT_TRUE(search.isValid());
    int more = 0;
    while (WinAPI::tryFindNextFile(search, data))
    {
        ++more;
    }
    EXPECT_EQ(more, 1);  // "." then ".."
    EXPECT_FALSE(WinAPI::findFirstFile(dir / L"missing\\*", data).isValid());
}

TEST(WinAPIWrappers, GrowingBuffers)
{
    EXPECT_EQ(WinAPI::expandEnvironmentStrings(L""), L"");
    ::SetEnvironmentVariableW(L"TW_TEST_VALUE", std::wstring(600, L'v').c_str());
    EXPECT_EQ(WinAPI::expandEnvironmentStrings(L"<%TW_TEST_VALUE%>"), L"<" + std::wstring(600, L'v') + L">");
    EXPECT_TRUE(WinAPI::getModuleFileName().ends_with(L"test_fs.exe"));
    EXPECT_FALSE(WinAPI::getComputerName().empty());
    EXPECT_FALSE(WinAPI::getUserName().empty());
    EXPECT_TRUE(CFilePath(WinAPI::getWindowsDirectory()).exists());
}

TEST(SharedHolders, LastReleaseClosesAndReleaseTwiceDoesNothing)
{
    HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    {
        CSharedHandle first(event);
        EXPECT_EQ(first.useCount(), 1u);
        {
            CSharedHandle second = first;
            CSharedHandle third;
            third = second;
            EXPECT_EQ(first.useCount(), 3u);
            second.reset();
            second.reset();
            EXPECT_EQ(first.useCount(), 2u);
            EXPECT_FALSE(second.isValid());
        }
        EXPECT_TRUE(isOpenHandle(event));
        EXPECT_EQ(first.useCount(), 1u);
    }
    EXPECT_FALSE(isOpenHandle(event));
}

TEST(SharedHolders, EmptyAndPseudoHandlesAreNeverClosed)
{
    CSharedHandle empty;
    EXPECT_FALSE(empty.isValid());
    CSharedHandle copy = empty;
    EXPECT_EQ(copy.useCount(), 0u);
    {
        CSharedHandle process = WinAPI::getCurrentProcess();
        EXPECT_FALSE(process.isValid());
    }
}

TEST(SharedHolders, AssignmentReleasesWhatTheDestinationHeld)
{
    HANDLE a = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE b = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    CSharedHandle holder(a);
    holder = CSharedHandle(b);
    EXPECT_FALSE(isOpenHandle(a));
    EXPECT_TRUE(isOpenHandle(b));
    const CSharedHandle& same = holder;
    holder = same;  // self-assignment keeps the handle
    EXPECT_TRUE(isOpenHandle(b));
}
