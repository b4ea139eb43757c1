#include "crash/LogicalAddress.h"

#include "win/ProcessCalls.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace
{
// Exactly two pages in a section of their own: the section after it starts where it ends, so an
// edge that two sections share is tried whatever the linker makes of the rest.
__attribute__((section(".twedge"), used)) const char g_twoPages[0x2000] = {1};

struct CSection
{
    std::uintptr_t start;
    std::uintptr_t length;
};

// The section table of this test program, read from its headers in memory.
std::vector<CSection> ownSections(std::uintptr_t& base, std::uintptr_t& imageSize)
{
    const auto module = reinterpret_cast<const std::uint8_t*>(::GetModuleHandleW(nullptr));
    base = reinterpret_cast<std::uintptr_t>(module);
    const auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
    const auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(module + dos->e_lfanew);
    imageSize = nt->OptionalHeader.SizeOfImage;
    std::vector<CSection> sections;
    const auto* section = reinterpret_cast<const IMAGE_SECTION_HEADER*>(
        reinterpret_cast<const std::uint8_t*>(&nt->OptionalHeader) + nt->FileHeader.SizeOfOptionalHeader);
    for (unsigned i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section)
    {
        sections.push_back(
            {section->VirtualAddress, std::max<std::uintptr_t>(section->SizeOfRawData, section->Misc.VirtualSize)});
    }
    return sections;
}

void expectFound(std::uintptr_t address, std::uint32_t section, std::uint32_t offset)
{
    const CLogicalAddress logical = getLogicalAddress(address);
    EXPECT_TRUE(logical.found) << std::hex << address;
    EXPECT_EQ(logical.section, section) << std::hex << address;
    EXPECT_EQ(logical.offset, offset) << std::hex << address;
    EXPECT_EQ(logical.modulePath, WinAPI::getModuleFileName());
}
}  // namespace

TEST(LogicalAddress, SectionBoundariesOfTheOwnModule)
{
    std::uintptr_t base = 0;
    std::uintptr_t imageSize = 0;
    const std::vector<CSection> sections = ownSections(base, imageSize);
    ASSERT_GE(sections.size(), 2u);

    int gapsSeen = 0;
    int sharedEdgesSeen = 0;
    for (std::size_t i = 0; i < sections.size(); ++i)
    {
        const CSection& section = sections[i];
        const auto number = static_cast<std::uint32_t>(i + 1);
        const std::uintptr_t end = section.start + section.length;
        // A section whose end reaches the next one's start keeps that address: the first section
        // of the table that contains an address wins.
        const bool startShared = i > 0 && sections[i - 1].start + sections[i - 1].length == section.start;
        if (!startShared)
        {
            expectFound(base + section.start, number, 0);
        }
        expectFound(base + section.start + 1, number, 1);
        if (end >= imageSize)
        {
            continue;
        }
        // The end itself still belongs to the section.
        expectFound(base + end, number, static_cast<std::uint32_t>(section.length));
        const std::uintptr_t next = i + 1 < sections.size() ? sections[i + 1].start : imageSize;
        if (end == next)
        {
            ++sharedEdgesSeen;
        }
        else if (end + 1 < next)
        {
            EXPECT_FALSE(getLogicalAddress(base + end + 1).found) << "between sections " << number << " and next";
            ++gapsSeen;
        }
    }
    EXPECT_GT(sharedEdgesSeen, 0) << "no section ends where the next starts: that edge was not tried";
    EXPECT_GT(gapsSeen, 0) << "no padding between sections: the case of an address in none was not tried";
}

TEST(LogicalAddress, AddressesOutsideEverySection)
{
    std::uintptr_t base = 0;
    std::uintptr_t imageSize = 0;
    const std::vector<CSection> sections = ownSections(base, imageSize);
    // The headers come before the first section.
    ASSERT_GT(sections.front().start, 0x40u);
    EXPECT_FALSE(getLogicalAddress(base + 0x40).found);

    const auto heap = std::make_unique<int>(42);
    EXPECT_FALSE(getLogicalAddress(reinterpret_cast<std::uintptr_t>(heap.get())).found);
    EXPECT_FALSE(getLogicalAddress(0).found);
}

TEST(LogicalAddress, CodeOfASystemLibrary)
{
    const auto function =
        reinterpret_cast<std::uintptr_t>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "GetTickCount"));
    ASSERT_NE(function, 0u);
    const CLogicalAddress logical = getLogicalAddress(function);
    EXPECT_TRUE(logical.found);
    EXPECT_GE(logical.section, 1u);
    EXPECT_NE(logical.modulePath.find(L"kernel32"), std::wstring::npos)
        << std::string(logical.modulePath.begin(), logical.modulePath.end());
}
