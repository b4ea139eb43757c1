#pragma once

#include "fs/WalkState.h"

#include <optional>

// Takes one entry of an open folder for the walk: opens it by its name relative to the folder's
// handle without following a link at that name, checks that it is the entry the listing showed
// and lies where its name says (fs/FolderDeletion.cpp says why), and deletes it through that
// handle or, for a folder to enter, returns its level. A dry walk opens and checks the entry the
// same way but counts it instead of deleting it. Nothing when the entry is gone or was deleted by
// someone else meanwhile; a failure throws. lingers: the deleted name stays until others let go of
// the entry.
std::optional<CFolderLevel> takeEntry(CWalk& walk, HANDLE folder, const std::wstring& folderName,
                                      const WinAPI::DirectoryEntry& entry, const CFilePath& shown, bool& lingers);
