#include "fs/ResolvedName.h"

bool isEntryOf(const std::wstring& resolved, const std::wstring& folder, const std::wstring& name)
{
    const std::wstring prefix = !folder.empty() && folder.back() == L'\\' ? folder : folder + L'\\';
    if (resolved.compare(0, prefix.size(), prefix) != 0)
    {
        return false;
    }
    const std::wstring last = resolved.substr(prefix.size());
    const std::size_t kept = name.find_last_not_of(L". ");
    return last == name || (kept != std::wstring::npos && last == name.substr(0, kept + 1));
}
