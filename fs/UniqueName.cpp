#include "fs/UniqueName.h"

#include "fs/LowerCase.h"
#include "win/SystemCalls.h"
#include "win/TavException.h"

#include <windows.h>

namespace
{
// Names tried in all: a random name is taken only where someone made an entry of every name
// tried, which takes as many guesses as there are 64-bit numbers.
constexpr int kNames = 16;
constexpr std::size_t kRandomDigits = 16;

std::wstring randomDigits()
{
    std::uint64_t value = WinAPI::genRandom();
    std::wstring text(kRandomDigits, L'0');
    for (std::size_t digit = kRandomDigits; digit-- > 0; value >>= 4)
    {
        text[digit] = L"0123456789ABCDEF"[value & 0xF];
    }
    return text;
}
}  // namespace

std::wstring takeUniqueName(const std::wstring& stem, const std::wstring& suffix,
                            const std::function<bool(const std::wstring&)>& take)
{
    for (int number = 1; number <= kNames; ++number)
    {
        std::wstring name = (number == 1 ? stem : stem + L"." + randomDigits()) + suffix;
        if (take(name))
        {
            return name;
        }
    }
    throw CTavException(ERROR_FILE_EXISTS, L"No free name for " + stem + suffix + L".");
}

CFilePath createUnique(const CFilePath& folder, const std::wstring& stem, std::uint32_t id, const std::wstring& suffix,
                       const std::function<void(const CFilePath&)>& create)
{
    const std::wstring name =
        takeUniqueName(stem + L"." + std::to_wstring(id), suffix, [&](const std::wstring& candidate) {
            try
            {
                create(CFilePath::combine(folder, candidate));
                return true;
            }
            catch (const CTavException& error)
            {
                if (error.errorCode != ERROR_FILE_EXISTS && error.errorCode != ERROR_ALREADY_EXISTS)
                {
                    throw;
                }
                return false;
            }
        });
    return CFilePath::combine(folder, name);
}

bool isUniqueName(const std::wstring& name, const std::wstring& stem, std::uint32_t id)
{
    const std::wstring base = lowerCaseCopy(stem + L"." + std::to_wstring(id));
    const std::wstring lower = lowerCaseCopy(name);
    if (!lower.starts_with(base))
    {
        return false;
    }
    const std::wstring rest = lower.substr(base.size());
    return rest.empty() || (rest.size() == kRandomDigits + 1 && rest[0] == L'.' &&
                            rest.find_first_not_of(L"0123456789abcdef", 1) == std::wstring::npos);
}
