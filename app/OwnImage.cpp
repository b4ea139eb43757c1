#include "app/OwnImage.h"

#include "fs/FilePath.h"
#include "win/FileCalls.h"
#include "win/ProcessCalls.h"
#include "win/TavException.h"
#include "win/UniqueHolder.h"

namespace App
{
namespace
{
CUniqueFile g_image;
}  // namespace

void holdOwnImage()
{
    try
    {
        g_image = WinAPI::openShielded(verbatimForm(CFilePath(WinAPI::getModuleFileName())), GENERIC_READ, 0, false);
    }
    catch (const CTavException&)
    {
        // Then the file is found by its name when the deleter starts, as without the hold.
    }
}

HANDLE ownImage()
{
    return g_image.isValid() ? g_image.get() : nullptr;
}
}  // namespace App
