#include "fs/ResolvedName.h"

#include <string_view>

namespace
{
std::wstring_view trimmed(std::wstring_view name)
{
    const std::size_t kept = name.find_last_not_of(L". ");
    return kept == std::wstring_view::npos ? std::wstring_view() : name.substr(0, kept + 1);
}

// Both paths name by name the same place, each name compared without its trailing dots and blanks.
bool samePath(std::wstring_view a, std::wstring_view b)
{
    for (;;)
    {
        const std::size_t endA = std::min(a.find(L'\\'), a.size());
        const std::size_t endB = std::min(b.find(L'\\'), b.size());
        if (trimmed(a.substr(0, endA)) != trimmed(b.substr(0, endB)))
        {
            return false;
        }
        if (endA == a.size() || endB == b.size())
        {
            return endA == a.size() && endB == b.size();
        }
        a.remove_prefix(endA + 1);
        b.remove_prefix(endB + 1);
    }
}
}  // namespace

bool isEntryOf(const std::wstring& resolved, const std::wstring& folder, const std::wstring& name)
{
    const std::size_t cut = resolved.rfind(L'\\');
    if (cut == std::wstring::npos)
    {
        return false;
    }
    std::wstring_view folderName = folder;
    if (!folderName.empty() && folderName.back() == L'\\')
    {
        folderName.remove_suffix(1);  // a root: "\??\C:\"
    }
    const std::wstring_view view = resolved;
    return trimmed(view.substr(cut + 1)) == trimmed(name) && samePath(view.substr(0, cut), folderName);
}
