#include "app/Entry.h"
#include "win/Library.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    restrictDllSearchPath();
    return entry();
}
