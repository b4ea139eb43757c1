#pragma once

#include <windows.h>

#include <string>
#include <vector>

// True when resolved (the name the platform resolved for an open handle) is the name of the entry
// called name in the folder resolved as folder. The platform's resolved names drop the trailing
// dots of every name and the trailing blanks of the last one ("dir.\a." as "dir\a", "Data " as
// "Data", but "Data \f.txt" inside it), so names are compared without their trailing dots and
// blanks; such a name still lies in the same folder.
bool isEntryOf(const std::wstring& resolved, const std::wstring& folder, const std::wstring& name);

// Where the platform follows links whatever it is asked and drops trailing dots and blanks from
// resolved names (WinAPI::platformFollowsLinks), a folder with a sibling whose name differs from
// its own only by trailing dots and blanks ("tree" and "tree.") cannot be told from that sibling
// by resolved names: a link at "tree\a" to "tree.\a" resolves to the name "tree\a" has. The places
// that could so pass for the absolute path: for every name on the way to it (its own last name
// included) that has such a twin, the twin with the rest of the path below it. Empty elsewhere, and
// where no name has a twin. An entry at relative path r below the path is a link into a twin when it
// is the very entry (file id) at one of these places plus r.
std::vector<std::wstring> lookAlikesOf(const std::wstring& absolute);
// True when the open entry is the entry at one of lookAlikes plus relative (lookAlikesOf).
bool isLookAlike(HANDLE entry, const std::vector<std::wstring>& lookAlikes, const std::wstring& relative);
