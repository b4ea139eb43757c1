// A second process for the tests. Commands:
//   hold <file> <ready event> <release event>        opens the file without delete sharing
//   holdshared <file> <ready event> <release event>  opens it with delete sharing
//   load <library> <ready event> <release event>     loads the library (its file is then in use)
//   cwd <folder> <ready event> <release event>       makes the folder its current directory
//   mutex <name> <ready event> <release event>       owns the named mutex until released
//   event <name> <ready event> <release event>       holds an event of that name
// Each signals <ready event> once it holds its object and ends when <release event> is set.
//   record <file> [anything...]                      writes its own command line to <file>
//                                                    (UTF-16, no byte-order mark) and ends
#include <windows.h>

#include <cwchar>

namespace
{
HANDLE openEvent(const wchar_t* name)
{
    return ::OpenEventW(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, name);
}
}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc >= 3 && std::wcscmp(argv[1], L"record") == 0)
    {
        const wchar_t* commandLine = ::GetCommandLineW();
        HANDLE file = ::CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
        {
            return 4;
        }
        DWORD written = 0;
        const BOOL ok = ::WriteFile(file, commandLine, static_cast<DWORD>(std::wcslen(commandLine) * sizeof(wchar_t)),
                                    &written, nullptr);
        ::CloseHandle(file);
        return ok ? 0 : 6;
    }
    if (argc < 5)
    {
        return 2;
    }
    const wchar_t* command = argv[1];
    const wchar_t* target = argv[2];
    HANDLE ready = openEvent(argv[3]);
    HANDLE release = openEvent(argv[4]);
    if (ready == nullptr || release == nullptr)
    {
        return 3;
    }

    HANDLE held = nullptr;
    if (std::wcscmp(command, L"hold") == 0 || std::wcscmp(command, L"holdshared") == 0)
    {
        const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | (command[4] == L's' ? FILE_SHARE_DELETE : 0);
        held = ::CreateFileW(target, GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (held == INVALID_HANDLE_VALUE)
        {
            return 4;
        }
    }
    else if (std::wcscmp(command, L"load") == 0)
    {
        held = reinterpret_cast<HANDLE>(::LoadLibraryW(target));
    }
    else if (std::wcscmp(command, L"cwd") == 0)
    {
        // Held as long as the process lives; the handle below only stands for it.
        held = ::SetCurrentDirectoryW(target) ? ::GetCurrentProcess() : nullptr;
    }
    else if (std::wcscmp(command, L"mutex") == 0)
    {
        held = ::CreateMutexW(nullptr, TRUE, target);
    }
    else if (std::wcscmp(command, L"event") == 0)
    {
        held = ::CreateEventW(nullptr, TRUE, FALSE, target);
    }
    if (held == nullptr)
    {
        return 5;
    }

    ::SetEvent(ready);
    ::WaitForSingleObject(release, 120000);
    if (std::wcscmp(command, L"mutex") == 0)
    {
        ::ReleaseMutex(held);
    }
    if (std::wcscmp(command, L"load") == 0)
    {
        ::FreeLibrary(reinterpret_cast<HMODULE>(held));
    }
    else if (std::wcscmp(command, L"cwd") != 0)
    {
        ::CloseHandle(held);
    }
    return 0;
}
