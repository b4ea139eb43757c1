#pragma once

#include "fs/FilePath.h"

#include <windows.h>

// True when both paths name the same file or folder: equal texts (ignoring case), or equal file
// information of two existing entries. Never throws.
bool isSameFile(const CFilePath& first, const CFilePath& second);
// True when both describe one entry: the same volume and the same file id.
bool isSameEntry(const BY_HANDLE_FILE_INFORMATION& first, const BY_HANDLE_FILE_INFORMATION& second);
// The same for two open handles; false when either is no handle of a file or folder. Never throws.
bool isSameEntry(HANDLE first, HANDLE second);
