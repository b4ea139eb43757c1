#pragma once

#include "win/UniqueHolder.h"

#include <windows.h>

#include <string>

// Whether others than the system and the administrators can change what a folder holds. Run
// elevated, the program must never load a library or write a file where a standard user could
// have put something first: the temporary folder and a user's own folders are such places, an
// installed product's folder under Program Files is not.
namespace WinAPI
{
// True when the descriptor lets anyone outside the trusted accounts (the system, the
// administrators, the installer service and, where given, trustedUser as a SID text) change the
// folder's entries: an owner outside them (an owner may always rewrite the DACL), no DACL or a
// null one, or an allow entry for the folder itself (inherit-only entries are left out) that
// grants write data (add file), append data (add subfolder), delete child, WRITE_DAC,
// WRITE_OWNER, GENERIC_WRITE or GENERIC_ALL to someone outside them. Allow entries of a kind
// whose SID is not read here (object and compound entries) count as outside. Deny entries are
// not weighed: the rule stays on the safe side without them.
bool isDescriptorWritableByOthers(PSECURITY_DESCRIPTOR descriptor, const std::wstring& trustedUser = L"");

// Opens a folder for reading its security and attributes, shared for reading and writing but not
// for deleting: while the handle is held, nobody can rename, replace or remove the folder, so what
// was checked through it is what a path into it reaches. An invalid holder when it cannot be
// opened.
CUniqueFile holdFolder(const std::wstring& path);

// Opens a file for reading its content and security, shared for reading only: while the handle is
// held, nobody can change, rename or delete the file (a program's loader, which only reads it,
// still can open it). An invalid holder when it cannot be opened.
CUniqueFile holdFileForReading(const std::wstring& path);

// The rule above for an open folder (or file), read through its handle (READ_CONTROL). An invalid handle
// or a security that cannot be read counts as writable by others. Under Wine, which shows every
// file's owner and rights as made from the Unix owner and mode (see docs/platform.md), and where
// every process of the user is an elevated administrator, the process user counts as trusted:
// there only an entry for Everyone with write rights (Unix mode o+w) or another Unix owner makes
// a folder writable by others.
bool isWritableByOthers(HANDLE folder);
bool isFolderWritableByOthers(const std::wstring& folderPath);
}  // namespace WinAPI
