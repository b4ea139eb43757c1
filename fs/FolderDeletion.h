#pragma once

#include "fs/DeletionTarget.h"
#include "fs/FilePath.h"

#include <functional>

class CInUseDeferral;

// Removes one file, clearing its read-only attribute first; a missing file is success.
void deleteFileForced(const CFilePath& file);

// Called with the path of every entry after its folder was read and before the entry is opened.
using EntryObserver = std::function<void(const CFilePath& entry)>;

// Removes the file or the folder with everything in it, collecting every failure; throws one
// CTavException naming them all at the end. Refuses drive, share and volume roots. A missing
// entry is success. Never reaches outside the entry: links inside are removed themselves, and an
// entry replaced while the walk runs is never entered. With a deferral, an entry in use is tried
// again while the run's retry time lasts, and a file still in use is then moved aside to be
// deleted at the next restart.
//
// workers: how many threads share the walk, the calling one included; 0: two per processor, at
// most eight. The failures and their order are the same for any number. beforeOpening is called
// from all of them, one call at a time.
void deleteCompletely(const CFilePath& path, const EntryObserver& beforeOpening = {},
                      CInUseDeferral* deferral = nullptr, unsigned workers = 0);
// The same for a target already found.
void deleteCompletely(const CDeletionTarget& target, const EntryObserver& beforeOpening = {},
                      CInUseDeferral* deferral = nullptr, unsigned workers = 0);
