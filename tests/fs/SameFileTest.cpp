#include "fs/SameFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace
{
// Holds a file open with the given sharing for the life of the object.
class CHeldFile
{
public:
    CHeldFile(const std::wstring& path, DWORD access, DWORD share)
        : m_handle(::CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr))
    {
    }
    ~CHeldFile() { ::CloseHandle(m_handle); }
    CHeldFile(const CHeldFile&) = delete;
    CHeldFile& operator=(const CHeldFile&) = delete;
    bool isOpen() const { return m_handle != INVALID_HANDLE_VALUE; }

private:
    HANDLE m_handle;
};

// Changes the current directory for the life of the object.
class CCurrentDirectory
{
public:
    explicit CCurrentDirectory(const std::wstring& path)
    {
        wchar_t buffer[MAX_PATH];
        m_previous.assign(buffer, ::GetCurrentDirectoryW(MAX_PATH, buffer));
        ::SetCurrentDirectoryW(path.c_str());
    }
    ~CCurrentDirectory() { ::SetCurrentDirectoryW(m_previous.c_str()); }
    CCurrentDirectory(const CCurrentDirectory&) = delete;
    CCurrentDirectory& operator=(const CCurrentDirectory&) = delete;

private:
    std::wstring m_previous;
};

std::wstring upper(std::wstring text)
{
    for (wchar_t& c : text)
    {
        if (c >= L'a' && c <= L'z')
        {
            c = static_cast<wchar_t>(c - L'a' + L'A');
        }
    }
    return text;
}
}  // namespace

TEST(SameFile, TextsEqualButForCaseNeedNoFileSystem)
{
    EXPECT_TRUE(isSameFile(L"C:\\Dir\\a.txt", L"c:\\dir\\A.TXT"));
    EXPECT_FALSE(isSameFile(L"C:\\Dir\\a.txt", L"C:\\Dir\\b.txt"));

    // A file that nobody else may open is still recognised by its text.
    test::CTempDir dir;
    const CFilePath file = dir / L"locked.log";
    test::writeTextFile(file);
    const CHeldFile locked(file, GENERIC_READ | GENERIC_WRITE, 0);
    ASSERT_TRUE(locked.isOpen());
    EXPECT_TRUE(isSameFile(file, CFilePath(upper(file))));
}

TEST(SameFile, OtherSpellingsOfOneEntryAreTheSame)
{
    test::CTempDir dir;
    const CFilePath file = dir / L"a rather long file name.txt";
    test::writeTextFile(file, "content");
    test::makeFolder(dir / L"sub");

    const CCurrentDirectory current(dir.path());
    EXPECT_TRUE(isSameFile(file, L"a rather long file name.txt"));
    EXPECT_TRUE(isSameFile(file, L"sub\\..\\a rather long file name.txt"));
    EXPECT_TRUE(isSameFile(dir / L"sub", L".\\sub"));
    EXPECT_TRUE(isSameFile(dir / L"sub", dir / L"sub\\..\\sub"));

    wchar_t shortName[MAX_PATH];
    if (::GetShortPathNameW(file.c_str(), shortName, MAX_PATH) != 0 && CFilePath(shortName) != file)
    {
        EXPECT_TRUE(isSameFile(file, shortName)) << "short name";
    }
}

TEST(SameFile, FileBeingWrittenByOthersIsRecognised)
{
    // A log file is compared while its writer holds it open for writing.
    test::CTempDir dir;
    const CFilePath file = dir / L"writer.log";
    test::writeTextFile(file);
    const CHeldFile writer(file, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_TRUE(writer.isOpen());
    EXPECT_TRUE(isSameFile(file, dir / L".\\writer.log"));
}

TEST(SameFile, DifferentOrMissingEntriesAreNotTheSame)
{
    test::CTempDir dir;
    // Equal size and content, created together: only the file identity differs.
    test::writeTextFile(dir / L"one.txt", "same");
    test::writeTextFile(dir / L"two.txt", "same");
    test::makeFolder(dir / L"folder");
    EXPECT_FALSE(isSameFile(dir / L"one.txt", dir / L"two.txt"));
    EXPECT_FALSE(isSameFile(dir / L"one.txt", dir / L"missing.txt"));
    EXPECT_FALSE(isSameFile(dir / L"missing.txt", dir / L"one.txt"));
    EXPECT_FALSE(isSameFile(dir / L"missing.txt", dir / L"other missing.txt"));
    EXPECT_FALSE(isSameFile(dir / L"folder", dir / L"one.txt"));
    EXPECT_FALSE(isSameFile(dir / L"folder", dir.path()));
}
