#include "fs/EmptyParents.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace
{
struct CRecorder : CParentsListener
{
    void removed(const CFilePath& folder) override { removedFolders.push_back(folder); }
    void stopped(const CFilePath& folder, const std::wstring& why, bool failed) override
    {
        stoppedAt = folder;
        reason = why;
        failure = failed;
    }

    std::vector<CFilePath> removedFolders;
    CFilePath stoppedAt;
    std::wstring reason;
    bool failure = false;
};
}  // namespace

TEST(EmptyParents, ParentThatAnotherProgramFillsMeanwhileStays)
{
    test::CTempDir dir;
    const CFilePath vendor = dir / L"Vendor";
    test::makeFolder(vendor);
    test::makeFolder(vendor / L"Sub");
    CEmptyParents request;
    request.target = vendor / L"Sub\\Product";
    request.stopAt = CPlace::ofPath(dir.path());
    CRecorder recorder;
    // Between the checks of Vendor and its removal, another program puts a file in it.
    removeEmptyParents(request, recorder, [&](const CFilePath& folder) {
        if (folder == vendor)
        {
            test::writeTextFile(vendor / L"late.txt", "late");
        }
    });
    EXPECT_EQ(recorder.removedFolders, std::vector<CFilePath>{vendor / L"Sub"});
    EXPECT_EQ(recorder.stoppedAt, vendor);
    EXPECT_EQ(recorder.reason, L"it is not empty");
    EXPECT_FALSE(recorder.failure);
    EXPECT_EQ(test::readBytes(vendor / L"late.txt"), "late");
}
