#pragma once

#include "fs/FilePath.h"

// True when both paths name the same file or folder: equal texts (ignoring case), or equal file
// information of two existing entries. Never throws.
bool isSameFile(const CFilePath& first, const CFilePath& second);
