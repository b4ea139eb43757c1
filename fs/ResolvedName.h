#pragma once

#include <string>

// True when resolved (the name the platform resolved for an open handle) is the name of the entry
// called name in the folder resolved as folder. The platform shows resolved names without
// trailing dots and blanks ("a." as "a"); such a name still lies in the same folder.
bool isEntryOf(const std::wstring& resolved, const std::wstring& folder, const std::wstring& name);
