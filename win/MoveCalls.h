#pragma once

#include "win/UniqueHolder.h"

#include <windows.h>

#include <string>

// Thin wrappers of the calls that move an open entry elsewhere on its volume (the rename itself is
// WinAPI::tryRenameInto): the volume a path lies on, what an open handle refers to, and a folder
// held open so that it cannot be replaced while entries are moved into it, and who owns it.
namespace WinAPI
{
// The root of the volume the path lies on (a drive root, a share root or a mount point), always
// ending in a backslash.
std::wstring getVolumePathName(const std::wstring& path);
BY_HANDLE_FILE_INFORMATION getFileInformationByHandle(HANDLE entry, const std::wstring& shownPath);
// Creates the folder when it is missing, with the given security (SDDL) and attributes (set where
// the file system keeps them), then opens it without following a reparse point, shared for
// reading and writing but not for deleting, so that the name cannot be renamed or replaced while
// the handle is open; the handle may read the folder's security. created tells whether this call
// made the folder. Throws ERROR_DIRECTORY when the entry is not a plain folder (a file, a link,
// any reparse point).
CUniqueFile openPlainFolder(const std::wstring& path, const wchar_t* sddl, DWORD attributesWhenCreated, bool& created);
// The owner of an open entry (with READ_CONTROL) as a SID text ("S-1-5-32-544").
std::wstring getOwner(HANDLE entry, const std::wstring& shownPath);
// The user this process runs as, as a SID text.
std::wstring getProcessUser();
// The owner the entries this process creates get by default (the administrators when it runs
// elevated under Windows, else its user), as a SID text.
std::wstring getProcessDefaultOwner();
}  // namespace WinAPI
