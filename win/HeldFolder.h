#pragma once

#include "win/UniqueHolder.h"

#include <string>

// A folder held open so that it stays where it is: made new and held from the moment it exists
// (the handle comes from the creation itself, so it is the folder this call made and no other
// entry put at its name before or after), or an existing one opened through its parent's handle.
namespace WinAPI
{
// Creates the folder name in the folder parentPath. Any entry of that name, a link included,
// fails the call with ERROR_ALREADY_EXISTS: nothing is ever created through a link. sddl is the
// new folder's security (null: what its parent passes on). The handle may list the folder and read
// its security and attributes, but not delete it; it shares reading and writing but not deleting:
// while it is open the folder can be neither renamed nor removed nor replaced, and entries inside
// can be created, listed and deleted as in any folder (a handle with delete access would keep
// others from listing it under Wine). Throws ERROR_DIRECTORY when what was created is no plain
// folder.
CUniqueFile createHeldFolder(const std::wstring& parentPath, const std::wstring& name, const wchar_t* sddl);
// Opens the existing folder name of the folder parent, never through a link at that name, with the
// access and sharing of createHeldFolder: from now on it can be neither renamed nor removed nor
// replaced while the handle is open. Opening it needs no delete access, so it succeeds while
// others hold the folder without sharing its deletion (but not while anyone has it open with
// delete access). Throws ERROR_DIRECTORY when the entry is no plain folder (a link, a file).
CUniqueFile holdFolder(HANDLE parent, const std::wstring& name, const std::wstring& shownPath);
}  // namespace WinAPI
