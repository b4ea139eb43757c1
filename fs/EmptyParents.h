#pragma once

#include "fs/FilePath.h"
#include "fs/FolderDeletion.h"
#include "fs/Place.h"

#include <cstdint>
#include <optional>
#include <string>

// What the removal of empty parents tells its caller as it goes (the log lives above this layer).
class CParentsListener
{
public:
    virtual ~CParentsListener() = default;
    // The folder is removed (in a dry run: would be).
    virtual void removed(const CFilePath& folder) = 0;
    // The removal stops at the folder, which stays, for the reason given; failed when its removal
    // was tried and failed for another reason than being not empty.
    virtual void stopped(const CFilePath& folder, const std::wstring& reason, bool failed) = 0;
};

struct CEmptyParents
{
    // The entry that is gone (absolute). Its parents are taken as spelled: a link or a mount point
    // on the way stops the removal, and nothing beyond it is reached.
    CFilePath target;
    // The file id of the folder the deletion found the target in (0 when the target was not there):
    // the first parent removed is that very folder.
    std::uint64_t folderId = 0;
    // The folder at which the removal stops (it and everything above stay).
    std::optional<CPlace> stopAt;
    // A dry run changes nothing: it tells which parents would go once the target is gone, that is,
    // which hold nothing but the target (then the parent below) and could be opened for their
    // removal. targetName is the target's name as its folder lists it (empty when it is not there).
    bool dryRun = false;
    std::wstring targetName;
};

// Removes the parents of the target, one at a time and upward, while each one is empty; stops at
// the first that is not empty or cannot be removed, and never removes a volume's or a share's root,
// a link or mount point, or a protected folder (fs/ProtectedFolders.h). Each parent is opened by its
// name through its own parent's handle without following a link, checked to be a folder that is no
// link and the folder expected (the one the target lay in, then the one the path named a moment
// before), and deleted through that handle as an empty folder: when another program has put
// something in it meanwhile the delete fails ("not empty") and the folder stays. beforeRemoving is
// called with each parent after its checks, right before its removal. Never throws: every failure
// stops the removal and is told to the listener.
void removeEmptyParents(const CEmptyParents& request, CParentsListener& listener,
                        const EntryObserver& beforeRemoving = {});
