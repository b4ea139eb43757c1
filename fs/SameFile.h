#pragma once

#include "fs/FilePath.h"

#include <windows.h>

// True when both paths open the same file or folder (the same volume and file id; a link at either
// name is taken as the entry it is), or when neither opens anything and their texts are equal
// ignoring case. Never throws.
bool isSameFile(const CFilePath& first, const CFilePath& second);
// True when both describe one entry: the same volume and the same file id.
bool isSameEntry(const BY_HANDLE_FILE_INFORMATION& first, const BY_HANDLE_FILE_INFORMATION& second);
// The same for two open handles; false when either is no handle of a file or folder. Never throws.
bool isSameEntry(HANDLE first, HANDLE second);
