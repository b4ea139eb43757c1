// Values of the options that shape the deletion which the run refuses before it deletes anything.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

TEST(OptionValues, EveryBadValueEndsTheRunWithOneErrorLineBeforeAnythingIsDeleted)
{
    test::CTempDir dir;
    const CFilePath target = dir / L"Vendor\\App";
    test::makeFolder(dir / L"Vendor");
    test::makeFolder(target);
    test::makeFolder(dir / L"Sibling");
    test::writeTextFile(target / L"file.txt");
    // The option, and the value the refusal quotes.
    const std::pair<std::wstring, std::wstring> refused[] = {
        {L"/WaitOnProcess:abc", L"abc"},
        {L"/WaitOnProcess", L""},
        {L"/WaitOnProcess:0x10", L"0x10"},
        {L"/WaitOnProcess:-4", L"-4"},
        {L"/WaitOnProcess:99999999999", L"99999999999"},
        {L"\"/WaitOnProcess: 12\"", L" 12"},
        {L"/Keep:..\\x", L"..\\x"},
        {L"/Keep:data\\..\\..\\x", L"data\\..\\..\\x"},
        {L"/Keep:data;.", L"."},
        {L"/Keep:" + dir.path(), dir.path()},
        {L"/Keep:\\data", L"\\data"},
        {L"/Keep:\\\\?\\C:\\data", L"\\\\?\\C:\\data"},
        {L"/Keep:C:data", L"C:data"},
        {L"/Keep:*.txt", L"*.txt"},
        {L"/Keep:fil?.txt", L"fil?.txt"},
        {L"/Keep:;", L";"},
        {L"/RemoveEmptyParents:" + (dir / L"Sibling"), dir / L"Sibling"},
        {L"/RemoveEmptyParents:" + target, target},
        {L"/RemoveEmptyParents:" + (dir / L"missing"), dir / L"missing"},
        {L"/WhatIf:no", L"no"},
    };
    std::vector<test::CParallelRun> runs;
    for (const auto& [option, value] : refused)
    {
        runs.push_back({L"/Path:" + target + L" /Wait:0 " + option, L"", {}});
    }
    test::runTogether(dir.path(), runs);
    for (std::size_t i = 0; i < runs.size(); ++i)
    {
        SCOPED_TRACE(test::narrow(refused[i].first));
        EXPECT_EQ(runs[i].result.exitCode, 0xFFFFFFFFu);
        const std::vector<std::wstring> texts = runs[i].result.texts();
        ASSERT_EQ(texts.size(), 4u);
        const std::wstring option = refused[i].first.substr(refused[i].first.find(L'/') + 1);
        const std::wstring name = option.substr(0, option.find(L':'));
        EXPECT_TRUE(texts[2].starts_with(L"Refusing /" + name + L" \"" + refused[i].second + L"\": "))
            << test::narrow(texts[2]);
        EXPECT_EQ(texts[3], L"Tidewell return value: -1");
    }
    EXPECT_TRUE(test::exists(target / L"file.txt"));
}
