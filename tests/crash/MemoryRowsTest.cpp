#include "crash/MemoryRows.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

namespace
{
const std::wstring kIndent(27, L' ');

// A row's address as the report shows it: upper-case hexadecimal, two digits for each byte of a
// pointer.
std::wstring hexAddress(std::uintptr_t address)
{
    wchar_t text[17];
    std::swprintf(text, 17, L"%0*llX", static_cast<int>(2 * sizeof address), static_cast<unsigned long long>(address));
    return text;
}

// Two pages: the first committed and readable, the second only reserved.
class CPageEdge
{
public:
    CPageEdge()
    {
        SYSTEM_INFO system{};
        ::GetSystemInfo(&system);
        m_pageSize = system.dwPageSize;
        m_base = static_cast<std::uint8_t*>(::VirtualAlloc(nullptr, 2 * m_pageSize, MEM_RESERVE, PAGE_NOACCESS));
        if (m_base != nullptr && ::VirtualAlloc(m_base, m_pageSize, MEM_COMMIT, PAGE_READWRITE) == nullptr)
        {
            ::VirtualFree(m_base, 0, MEM_RELEASE);
            m_base = nullptr;
        }
    }
    ~CPageEdge()
    {
        if (m_base != nullptr)
        {
            ::VirtualFree(m_base, 0, MEM_RELEASE);
        }
    }
    CPageEdge(const CPageEdge&) = delete;
    CPageEdge& operator=(const CPageEdge&) = delete;

    bool isValid() const { return m_base != nullptr; }
    // The first byte that cannot be read.
    std::uint8_t* end() const { return m_base + m_pageSize; }

private:
    std::uint8_t* m_base = nullptr;
    std::size_t m_pageSize = 0;
};
}  // namespace

TEST(MemoryRows, ThirtyTwoReadableBytesMakeTwoRows)
{
    const char text[] = "ABCDEFGHIJKLMNOPqrstuvwxyz012345";
    const auto address = reinterpret_cast<std::uintptr_t>(text);
    const std::vector<std::wstring> rows = memoryRows(address);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0],
              kIndent + hexAddress(address) + L"   41 42 43 44 45 46 47 48 49 4a 4b 4c 4d 4e 4f 50   ABCDEFGHIJKLMNOP");
    EXPECT_EQ(rows[1], kIndent + hexAddress(address + 16) +
                           L"   71 72 73 74 75 76 77 78 79 7a 30 31 32 33 34 35   qrstuvwxyz012345");
}

TEST(MemoryRows, BytesRunningIntoAnUnreadablePage)
{
    CPageEdge edge;
    ASSERT_TRUE(edge.isValid());
    std::memcpy(edge.end() - 20, "0123456789abcdefWXYZ", 20);

    // 32 bytes of which the first 16 are readable: one row.
    const auto sixteen = reinterpret_cast<std::uintptr_t>(edge.end() - 16);
    const std::vector<std::wstring> half = memoryRows(sixteen);
    ASSERT_EQ(half.size(), 1u);
    EXPECT_EQ(half[0],
              kIndent + hexAddress(sixteen) + L"   34 35 36 37 38 39 61 62 63 64 65 66 57 58 59 5a   456789abcdefWXYZ");

    // 20 readable: a second row with four bytes, the rest marked as unread.
    const auto twenty = reinterpret_cast<std::uintptr_t>(edge.end() - 20);
    const std::vector<std::wstring> rows = memoryRows(twenty);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1], kIndent + hexAddress(twenty + 16) +
                           L"   57 58 59 5a ?? ?? ?? ?? ?? ?? ?? ?? ?? ?? ?? ??   WXYZ............");

    // 8 readable: one row, half of it unread.
    const auto eight = reinterpret_cast<std::uintptr_t>(edge.end() - 8);
    const std::vector<std::wstring> short_ = memoryRows(eight);
    ASSERT_EQ(short_.size(), 1u);
    EXPECT_EQ(short_[0],
              kIndent + hexAddress(eight) + L"   63 64 65 66 57 58 59 5a ?? ?? ?? ?? ?? ?? ?? ??   cdefWXYZ........");
}

TEST(MemoryRows, NothingForUnreadableMemory)
{
    CPageEdge edge;
    ASSERT_TRUE(edge.isValid());
    EXPECT_TRUE(memoryRows(reinterpret_cast<std::uintptr_t>(edge.end())).empty());
    EXPECT_TRUE(memoryRows(reinterpret_cast<std::uintptr_t>(edge.end() + 100)).empty());
    EXPECT_TRUE(memoryRows(0).empty());
    EXPECT_TRUE(memoryRows(16).empty());
}
