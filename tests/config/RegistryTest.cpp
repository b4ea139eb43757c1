#include "support/TestSupport.h"
#include "win/RegistryCalls.h"
#include "win/TavException.h"

#include <gtest/gtest.h>

#include <numeric>

namespace
{
std::vector<std::uint8_t> countingBytes(std::size_t size)
{
    std::vector<std::uint8_t> bytes(size);
    std::iota(bytes.begin(), bytes.end(), std::uint8_t(1));
    return bytes;
}

class RegistryAccess : public ::testing::Test
{
protected:
    test::CTestRegKey m_key{HKEY_CURRENT_USER, test::CTestRegKey::uniquePath()};

    RegValue read(const std::wstring& name)
    {
        const CUniqueRegKey key = WinAPI::regOpenKeyEx(HKEY_CURRENT_USER, m_key.path());
        return WinAPI::regQueryValueEx(key.get(), name);
    }

    // The code and message of the CTavException that call throws.
    template <class Call>
    static CTavException thrownBy(Call call)
    {
        try
        {
            call();
        }
        catch (const CTavException& error)
        {
            return error;
        }
        ADD_FAILURE() << "no CTavException";
        return CTavException(0xFFFFFFFF, L"");
    }
};
}  // namespace

TEST_F(RegistryAccess, KeysExistOnlyWhenTheyCanBeOpened)
{
    EXPECT_TRUE(WinAPI::regKeyExists(HKEY_CURRENT_USER, m_key.path()));
    EXPECT_FALSE(WinAPI::regKeyExists(HKEY_CURRENT_USER, m_key.path() + L"\\missing"));
    EXPECT_FALSE(WinAPI::regKeyExists(HKEY_LOCAL_MACHINE, m_key.path()));

    const std::wstring missing = m_key.path() + L"\\missing";
    const CTavException error = thrownBy([&] { WinAPI::regOpenKeyEx(HKEY_CURRENT_USER, missing); });
    EXPECT_EQ(error.errorCode, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(error.message, L"WinAPI::regOpenKeyEx() failed for " + missing);
}

TEST_F(RegistryAccess, ValuesOfAnySizeAreReadExactlyThroughTheDoublingBuffer)
{
    // 128 bytes fit the first buffer; 129 need 256; 300 need 512. Binary data, so the registry
    // neither adds nor drops a terminator.
    for (const std::size_t size : {std::size_t(0), std::size_t(1), std::size_t(127), std::size_t(128), std::size_t(129),
                                   std::size_t(256), std::size_t(300), std::size_t(70000)})
    {
        const std::vector<std::uint8_t> bytes = countingBytes(size);
        const std::wstring name = L"b" + std::to_wstring(size);
        m_key.setValue(name, REG_BINARY, bytes.data(), bytes.size());
        const RegValue value = read(name);
        EXPECT_EQ(value.name, name);
        EXPECT_EQ(value.type, static_cast<std::uint32_t>(REG_BINARY));
        EXPECT_EQ(value.data, bytes) << "size " << size;
    }
}

TEST_F(RegistryAccess, MissingValueIsNotThereAndCannotBeRead)
{
    const CUniqueRegKey key = WinAPI::regOpenKeyEx(HKEY_CURRENT_USER, m_key.path());
    m_key.setDword(L"present", 7);
    EXPECT_TRUE(WinAPI::regValueExists(key.get(), L"present"));
    EXPECT_FALSE(WinAPI::regValueExists(key.get(), L"missing"));

    const CTavException error = thrownBy([&] { WinAPI::regQueryValueEx(key.get(), L"missing"); });
    EXPECT_EQ(error.errorCode, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(error.message, L"WinAPI::regQueryValueEx failed for missing");
    // The failed read leaves the key usable.
    EXPECT_EQ(WinAPI::regQueryValueEx(key.get(), L"present").toDWORD(), 7u);
}

TEST_F(RegistryAccess, NumbersNeedFourBytesAndIgnoreTheRest)
{
    const std::uint64_t quad = 0x1122334455667788ull;
    m_key.setValue(L"quad", REG_QWORD, &quad, sizeof quad);
    m_key.setDword(L"dword", 0xFFFFFFFEu);
    const std::uint8_t two[] = {1, 0};
    m_key.setValue(L"twoBinary", REG_BINARY, two, sizeof two);
    m_key.setValue(L"twoDword", REG_DWORD, two, sizeof two);

    EXPECT_EQ(read(L"quad").toDWORD(), 0x55667788u);
    EXPECT_EQ(read(L"dword").toDWORD(), 0xFFFFFFFEu);
    for (const wchar_t* name : {L"twoBinary", L"twoDword"})
    {
        const RegValue value = read(name);
        EXPECT_EQ(value.data.size(), 2u) << "the registry keeps short data as it is";
        const CTavException error = thrownBy([&] { value.toDWORD(); });
        EXPECT_EQ(error.errorCode, 0u);
        EXPECT_EQ(error.message, L"RegValue does not have enough data for conversion to DWORD");
    }
}

TEST_F(RegistryAccess, TheLastOwnerClosesTheKey)
{
    CUniqueRegKey first = WinAPI::regOpenKeyEx(HKEY_LOCAL_MACHINE, L"SOFTWARE");
    const HKEY raw = first.get();
    CUniqueRegKey second = std::move(first);
    EXPECT_EQ(first.get(), RegKeyTraits::empty());  // NOLINT(bugprone-use-after-move): a moved holder is empty
    first.reset();                                  // and closes nothing
    DWORD subkeys = 0;
    EXPECT_EQ(::RegQueryInfoKeyW(raw, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 nullptr, nullptr),
              ERROR_SUCCESS)
        << "the key stays open while its owner remains";
    second.reset();
    EXPECT_EQ(::RegQueryInfoKeyW(raw, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 nullptr, nullptr),
              ERROR_INVALID_HANDLE);
}

// The registry itself may add a terminator to string data (Wine does); the conversion must not
// depend on it: one terminator goes, and an odd last byte, whatever comes before.
TEST(RegValue, StringsLoseOneTerminatorAndAnOddByte)
{
    const struct
    {
        std::vector<std::uint8_t> data;
        std::wstring text;
    } cases[] = {
        {{'a', 0, 'b', 0, 'c', 0}, L"abc"},
        {{'a', 0, 'b', 0, 'c', 0, 0}, L"abc"},
        {{'a', 0, 'b', 0, 'c', 0, 0, 0}, L"abc"},
        {{'a', 0, 'b', 0, 'c', 0, 0x41}, L"abc"},
        {{'a', 0, 'b', 0, 0, 0, 0, 0}, std::wstring(L"ab\0", 3)},
        {{'a', 0, 0, 0, 'b', 0}, std::wstring(L"a\0b", 3)},
        {{0, 0}, L""},
        {{}, L""},
        {{0x3A, 0x26}, L"\x263A"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
    {
        EXPECT_EQ((RegValue{L"v", cases[i].data, REG_SZ}.toString()), cases[i].text) << "case " << i;
    }
}
