#include "app/DllSearch.h"
#include "app/Entry.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    restrictDllSearchPath();
    return entry();
}
