// The deletion's walk alone, with a given number of workers: what Tidewell does after its log is
// open, without the program around it. bench/delete_tree.sh compares one worker with the pool.
//
//   delete_walk PATH WORKERS       (WORKERS 0: as many as Tidewell takes)
// Exit value: 0 when everything went, 1 when the deletion failed.

#include "fs/FolderDeletion.h"
#include "win/TavException.h"

#include <cwchar>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3)
    {
        return -1;
    }
    try
    {
        deleteCompletely(CFilePath(argv[1]), {}, nullptr, static_cast<unsigned>(std::wcstoul(argv[2], nullptr, 10)));
    }
    catch (const CTavException&)
    {
        return 1;
    }
    return 0;
}
