#include "fs/FilePath.h"

#include <gtest/gtest.h>

TEST(FilePathNormalForm, SeparatorsAndDoubledBackslashes)
{
    EXPECT_EQ(CFilePath(L"C:/a//b/"), L"C:\\a\\b");
    EXPECT_EQ(CFilePath(L"\\\\server\\\\share\\"), L"\\\\server\\share");
    EXPECT_EQ(CFilePath(L"\\\\\\\\server\\share"), L"\\\\server\\share");
    EXPECT_EQ(CFilePath(L"\\??\\C:\\x"), L"C:\\x");
}
