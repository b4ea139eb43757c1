#pragma once

#include "win/SharedHolder.h"

#include <string>

// A folder made new and held from the moment it exists: the handle comes from the creation
// itself, so it is the folder this call made and no other entry put at its name before or after.
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
CSharedHandle createHeldFolder(const std::wstring& parentPath, const std::wstring& name, const wchar_t* sddl);
}  // namespace WinAPI
