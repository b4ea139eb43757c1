#pragma once

#include <string>

// True when resolved (the name the platform resolved for an open handle) is the name of the entry
// called name in the folder resolved as folder. The platform's resolved names drop the trailing
// dots of every name and the trailing blanks of the last one ("dir.\a." as "dir\a", "Data " as
// "Data", but "Data \f.txt" inside it), so names are compared without their trailing dots and
// blanks; such a name still lies in the same folder.
bool isEntryOf(const std::wstring& resolved, const std::wstring& folder, const std::wstring& name);
