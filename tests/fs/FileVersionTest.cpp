#include "fs/FileVersion.h"
#include "support/TestSupport.h"
#include "win/ProcessCalls.h"
#include "win/SystemCalls.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace
{
CFileVersion version(std::uint16_t major, std::uint16_t minor, std::uint16_t build, std::uint16_t revision)
{
    CFileVersion v;
    v.major = major;
    v.minor = minor;
    v.build = build;
    v.revision = revision;
    return v;
}

// The "FileVersion" string of the module's version resource, which the build writes from the
// same project version as the fixed part.
std::wstring versionString(const std::wstring& path)
{
    DWORD handle = 0;
    std::vector<BYTE> data(::GetFileVersionInfoSizeW(path.c_str(), &handle));
    if (data.empty() || !::GetFileVersionInfoW(path.c_str(), handle, static_cast<DWORD>(data.size()), data.data()))
    {
        return L"";
    }
    wchar_t* text = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(data.data(), L"\\StringFileInfo\\040904B0\\FileVersion", reinterpret_cast<void**>(&text),
                          &length))
    {
        return L"";
    }
    return text;
}
}  // namespace

TEST(FileVersion, ProgramCarriesItsProjectVersion)
{
    CFileVersion program = getFileVersion(test::tidewellExe());
    ASSERT_TRUE(program.isValid());
    const std::wstring expected = versionString(test::tidewellExe());
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(program.text(), expected);
    EXPECT_EQ(program.textCache, expected);

    CFileVersion system = getFileVersion(CFilePath::combine(WinAPI::getWindowsDirectory(), L"system32\\kernel32.dll"));
    EXPECT_TRUE(system.isValid()) << "system libraries carry versions";
    EXPECT_EQ(CFileVersion::compare(system, CFileVersion()), 1);
}

TEST(FileVersion, FilesWithoutAVersionAreUnknown)
{
    test::CTempDir dir;
    test::writeTextFile(dir / L"plain.txt", "no resources here");
    // A file that starts like a program but is not one.
    test::writeTextFile(dir / L"fake.dll", std::string("MZ") + std::string(4096, '\x7f'));
    for (const CFilePath& path : {dir / L"plain.txt", dir / L"fake.dll", dir / L"missing.dll", CFilePath()})
    {
        CFileVersion unknown = getFileVersion(path);
        EXPECT_FALSE(unknown.isValid());
        EXPECT_EQ(CFileVersion::compare(unknown, CFileVersion()), 0);
        EXPECT_EQ(unknown.text(), L"N/A");
        EXPECT_TRUE(unknown.textCache.empty());
    }
    // The test program itself is built without a version resource.
    EXPECT_FALSE(getFileVersion(WinAPI::getModuleFileName()).isValid());
}

TEST(FileVersion, ResourceWithoutItsFixedPartIsUnknown)
{
    // A version block that holds only its key: no fixed file information to read.
    test::CTempDir dir;
    const CFilePath module = dir / L"bare.exe";
    ASSERT_TRUE(::CopyFileW(test::childExe().c_str(), module.c_str(), FALSE));
    std::vector<std::uint8_t> block(40, 0);
    block[0] = 40;
    const wchar_t key[] = L"VS_VERSION_INFO";
    std::memcpy(block.data() + 6, key, sizeof key);
    const HANDLE update = ::BeginUpdateResourceW(module.c_str(), FALSE);
    ASSERT_NE(update, nullptr);
    ASSERT_TRUE(::UpdateResourceW(update, MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1), 0x409, block.data(),
                                  static_cast<DWORD>(block.size())));
    ASSERT_TRUE(::EndUpdateResourceW(update, FALSE));
    DWORD handle = 0;
    ASSERT_NE(::GetFileVersionInfoSizeW(module.c_str(), &handle), 0u) << "the block is there";

    CFileVersion version = getFileVersion(module);
    EXPECT_FALSE(version.isValid());
    EXPECT_EQ(version.text(), L"N/A");
}

TEST(FileVersion, TextIsCachedUntilTheNextCall)
{
    CFileVersion v = version(7, 20, 3, 1234);
    const std::wstring& text = v.text();
    EXPECT_EQ(text, L"7.20.3.1234");
    EXPECT_EQ(&text, &v.textCache);
    v.build = 65534;
    v.text();
    EXPECT_EQ(text, L"7.20.65534.1234") << "the reference sees the next call's text";
    v.revision = 0xFFFF;
    EXPECT_EQ(v.text(), L"N/A");
    EXPECT_EQ(v.textCache, L"7.20.65534.1234") << "N/A leaves the cache as it was";
    EXPECT_EQ(version(0, 0, 0, 0).text(), L"0.0.0.0");
}

TEST(FileVersion, UnknownSortsFirstThenPartByPart)
{
    const CFileVersion unknown;
    const CFileVersion partlyUnknown = version(9, 9, 9, 0xFFFF);
    EXPECT_EQ(CFileVersion::compare(unknown, unknown), 0);
    EXPECT_EQ(CFileVersion::compare(partlyUnknown, unknown), 0);
    EXPECT_EQ(CFileVersion::compare(version(1, 0, 0, 0), unknown), 1);
    EXPECT_EQ(CFileVersion::compare(unknown, version(0, 0, 0, 0)), -1);
    EXPECT_EQ(CFileVersion::compare(partlyUnknown, version(0, 0, 0, 0)), -1);

    const CFileVersion ordered[] = {version(0, 0, 0, 0),
                                    version(0, 0, 0, 1),
                                    version(0, 0, 1, 0),
                                    version(0, 1, 0, 0),
                                    version(1, 0, 0, 0),
                                    version(1, 0, 0, 0x8000),
                                    version(0xFFFE, 0xFFFE, 0xFFFE, 0xFFFE)};
    for (std::size_t i = 0; i < std::size(ordered); ++i)
    {
        for (std::size_t j = 0; j < std::size(ordered); ++j)
        {
            const int expected = i < j ? -1 : (i > j ? 1 : 0);
            EXPECT_EQ(CFileVersion::compare(ordered[i], ordered[j]), expected) << i << " vs " << j;
        }
    }
}
