#include "fs/LeaveFolder.h"

#include "win/FileCalls.h"
#include "win/SystemCalls.h"
#include "win/TavException.h"

void leaveFolder(const CPlace& folder)
{
    try
    {
        if (!folder.contains(CPlace::ofPath(WinAPI::getCurrentDirectory())))
        {
            return;
        }
        std::wstring elsewhere = WinAPI::getTempPath();
        if (folder.contains(CPlace::ofPath(elsewhere)))
        {
            elsewhere = WinAPI::getWindowsDirectory();
        }
        WinAPI::setCurrentDirectory(elsewhere);
    }
    catch (const CTavException&)
    {
        // Then the removal of the folder itself reports what is in the way.
    }
}
