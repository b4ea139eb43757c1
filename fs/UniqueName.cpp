#include "fs/UniqueName.h"

#include "win/TavException.h"

#include <windows.h>

namespace
{
constexpr int kNames = 100;
}  // namespace

CFilePath createUnique(const CFilePath& folder, const std::wstring& stem, std::uint32_t id, const std::wstring& suffix,
                       const std::function<void(const CFilePath&)>& create)
{
    const std::wstring base = stem + L"." + std::to_wstring(id);
    for (int number = 1;; ++number)
    {
        const CFilePath path =
            CFilePath::combine(folder, (number == 1 ? base : base + L"." + std::to_wstring(number)) + suffix);
        try
        {
            create(path);
            return path;
        }
        catch (const CTavException& error)
        {
            const bool taken = error.errorCode == ERROR_FILE_EXISTS || error.errorCode == ERROR_ALREADY_EXISTS;
            if (!taken || number == kNames)
            {
                throw;
            }
        }
    }
}
