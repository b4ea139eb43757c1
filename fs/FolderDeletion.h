#pragma once

#include "fs/DeletionTarget.h"
#include "fs/EntryObserver.h"
#include "fs/FilePath.h"
#include "fs/KeptEntries.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class CInUseDeferral;

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
// The same for a target already found. With kept entries, those stay with everything in them, and
// so do the folders on the way to them, the target included; nothing else does.
void deleteCompletely(const CDeletionTarget& target, const EntryObserver& beforeOpening = {},
                      CInUseDeferral* deferral = nullptr, unsigned workers = 0, const CKeptEntries* kept = nullptr);

// What a deletion of the target would do today.
struct CDeletionForecast
{
    // The files and folders that would go (a link counts as the file or folder the listing shows)
    // and the size of those files.
    std::uint64_t files = 0;
    std::uint64_t folders = 0;
    std::uint64_t bytes = 0;
    // Each entry that would fail, with the reason, one per line, in the order a walk on one thread
    // gives; a folder that stays only for what stays inside it is not listed.
    std::vector<std::wstring> failures;
};

// The dry walk: the same walk over the target, every entry opened through its folder's handle and
// checked as the deletion does, but opened without the right to change it (delete access and what
// the walk reads, never FILE_WRITE_ATTRIBUTES) and closed again: nothing is deleted, moved or
// changed, no attribute, no time. An entry that the deletion could not open (in use, a held
// folder, a link the platform cannot remove) is a failure; what only the delete itself would refuse
// (a running program, a loaded library) cannot be seen without deleting and counts as going.
CDeletionForecast forecastDeletion(const CDeletionTarget& target, const CKeptEntries* kept = nullptr,
                                   unsigned workers = 0, const EntryObserver& beforeOpening = {});
