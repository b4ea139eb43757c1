#pragma once

#include "fs/FilePath.h"

// The verbatim form of an absolute path ("\\?\C:\..." or "\\?\UNC\..."), which Windows takes as
// it stands: no length limit, nothing dropped or changed.
std::wstring verbatimForm(const CFilePath& absolute);
// Removes one file, clearing its read-only attribute first; a missing file is success.
void deleteFileForced(const CFilePath& file);
// Removes the file or the folder with everything in it, collecting every failure; throws one
// CTavException naming them all at the end. Refuses drive, share and volume roots. A missing
// entry is success.
void deleteCompletely(const CFilePath& path);
