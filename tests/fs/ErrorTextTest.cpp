#include "fs/FilePath.h"
#include "win/ErrorText.h"
#include "win/FileCalls.h"
#include "win/ProcessCalls.h"
#include "win/SystemCalls.h"
#include "win/TavException.h"
#include "win/UniqueHolder.h"

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
    const CUniqueFindHandle search = WinAPI::findFirstFile(dir / L"*", data);
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

TEST(UniqueHolders, OneOwnerClosesOnceAndAMoveLeavesTheSourceEmpty)
{
    HANDLE a = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE b = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    {
        CUniqueHandle first(a);
        CUniqueHandle second(std::move(first));
        EXPECT_FALSE(first.isValid());  // NOLINT(bugprone-use-after-move): a moved holder is empty
        EXPECT_EQ(second.get(), a);
        second = CUniqueHandle(b);
        EXPECT_FALSE(isOpenHandle(a)) << "assignment closes what the destination held";
        CUniqueHandle& same = second;
        second = std::move(same);
        EXPECT_TRUE(isOpenHandle(b)) << "self-assignment keeps the handle";
        const HANDLE given = second.release();
        EXPECT_EQ(given, b);
    }
    EXPECT_TRUE(isOpenHandle(b)) << "a released handle is the caller's";
    ::CloseHandle(b);
}

TEST(UniqueHolders, EachKindHasItsOwnEmptyValue)
{
    // CreateMutexW fails with null, CreateFileW with INVALID_HANDLE_VALUE.
    const CUniqueHandle noMutex(::CreateMutexW(nullptr, FALSE, L"a\\name\\that\\cannot\\be"));
    EXPECT_FALSE(noMutex.isValid());
    const CUniqueFile noFile(::CreateFileW(L"Z:\\no\\such\\file", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(noFile.isValid());
    // The current process's pseudo-handle is -1, a handle like any other to a kernel holder.
    {
        const CUniqueHandle process = WinAPI::getCurrentProcess();
        ASSERT_TRUE(process.isValid());
        EXPECT_EQ(::GetProcessId(process.get()), ::GetCurrentProcessId());
    }
    EXPECT_EQ(::GetProcessId(::GetCurrentProcess()), ::GetCurrentProcessId());
}
