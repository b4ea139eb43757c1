// The fallback deleter: a copy of the program itself. It runs no other program and interprets no
// text: the file to delete is one argument of its command line, taken as it stands, and deleted
// through its verbatim long-path form. It waits on the handle of the process, so a reused process
// id cannot fool it.
//
// The copy starts from a folder of its own, never directly from the shared temporary folder,
// where a library planted beside it would be loaded in place of a system one. Once it runs, its
// libraries are loaded and the folder has done its job.

#include "app/CopyDeleter.h"

#include "app/DeleterJob.h"
#include "app/DriverLog.h"
#include "app/UniqueName.h"
#include "fs/FolderDeletion.h"
#include "win/FileCalls.h"
#include "win/ProcessCalls.h"
#include "win/SystemCalls.h"
#include "win/TavException.h"

#include <shellapi.h>

#include <cwchar>
#include <limits>
#include <vector>

namespace
{
// The first argument of the deleter mode.
const wchar_t* const kModeArgument = L"/_FinalDeleter";
constexpr DWORD kRetryPauseMs = 250;
constexpr ULONGLONG kFolderWaitMs = 5000;

std::wstring handleText(HANDLE handle)
{
    return std::to_wstring(reinterpret_cast<std::uintptr_t>(handle));
}

HANDLE handleOf(std::uint64_t value)
{
    return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(value));
}

// The arguments of a command line, split by the usual rules.
std::vector<std::wstring> argumentsOf(const std::wstring& commandLine)
{
    int count = 0;
    LPWSTR* arguments = ::CommandLineToArgvW(commandLine.c_str(), &count);
    if (arguments == nullptr)
    {
        return {};
    }
    std::vector<std::wstring> result(arguments, arguments + count);
    ::LocalFree(arguments);
    return result;
}

// A whole decimal number that fits its use; nothing for anything else.
std::optional<std::uint64_t> numberOf(const std::wstring& text, std::uint64_t largest)
{
    if (text.empty() || text.size() > 19 || text.find_first_not_of(L"0123456789") != std::wstring::npos)
    {
        return std::nullopt;
    }
    const std::uint64_t value = std::wcstoull(text.c_str(), nullptr, 10);
    return value <= largest ? std::optional<std::uint64_t>(value) : std::nullopt;
}

// The copy of the executable in its folder, opened to vanish with its last handle.
CSharedHandle createCopy(const CDeleterJob& job, const CFilePath& copy)
{
    try
    {
        WinAPI::copyFile(verbatimForm(job.executable), copy);
        // A read-only copy could not be opened for its own deletion.
        ::SetFileAttributesW(copy.c_str(), FILE_ATTRIBUTE_NORMAL);
        return WinAPI::openDeleteOnClose(copy);
    }
    catch (const CTavException&)
    {
        WinAPI::tryDeleteFile(copy);
        throw;
    }
}

// Moves the running copy beside its folder and removes the folder. The copy's file goes with its
// last handle under its new name as well; where the name is taken, file and folder stay as
// they are.
void leavePrivateFolder(HANDLE ownFile)
{
    const CFilePath folder = CFilePath(WinAPI::tryGetModuleFileName()).parent();
    if (folder.empty() || WinAPI::tryRenameByHandle(ownFile, folder + L".exe") != ERROR_SUCCESS)
    {
        return;
    }
    // Someone listing the folder (a scanner, a file manager) can keep it for a moment.
    const ULONGLONG deadline = ::GetTickCount64() + kFolderWaitMs;
    while (!::RemoveDirectoryW(folder.c_str()) && ::GetLastError() == ERROR_SHARING_VIOLATION &&
           ::GetTickCount64() < deadline)
    {
        ::Sleep(kRetryPauseMs);
    }
}

// Tries until the file is gone or the time is up.
bool deleteWithin(const std::wstring& file, std::uint32_t seconds)
{
    const ULONGLONG deadline = ::GetTickCount64() + ULONGLONG{seconds} * 1000;
    for (;;)
    {
        try
        {
            deleteFileForced(CFilePath(verbatimForm(WinAPI::fullpath(file))));
            return true;
        }
        catch (const CTavException&)
        {
            if (::GetTickCount64() >= deadline)
            {
                return false;
            }
            ::Sleep(kRetryPauseMs);
        }
    }
}
}  // namespace

bool startCopyDeleter(const CDeleterJob& job)
{
    CFilePath folder;
    try
    {
        folder = createUnique(WinAPI::getTempPath(), job.executable.fileName().withoutExtension(), job.processId, L"",
                              [](const CFilePath& path) { WinAPI::createNewDirectory(path); });
        const CFilePath copy = CFilePath::combine(folder, job.executable.fileName());
        const CSharedHandle copyHandle = createCopy(job, copy);
        const CSharedHandle process = WinAPI::duplicateHandle(job.process, SYNCHRONIZE, true);
        const std::wstring commandLine = L"\"" + copy + L"\" " + kModeArgument + L" " + handleText(process.get()) +
                                         L" " + handleText(copyHandle.get()) + L" " +
                                         std::to_wstring(job.retrySeconds) + L" \"" + job.executable + L"\"";
        WinAPI::createProcess(copy, commandLine, 0, WinAPI::getSystemDirectory(), {process.get(), copyHandle.get()});
        driverLine(kSeverityInfo, L"Final deleter started as a copy of the executable at ", copy);
        return true;
    }
    catch (const CTavException& error)
    {
        // The copy went with its handle; its folder is empty now.
        if (!folder.empty())
        {
            ::RemoveDirectoryW(folder.c_str());
        }
        driverLine(kSeverityError, L"Could not start final deleter as a copy of the executable. ", error.fullText());
        return false;
    }
}

std::optional<int> runCopyDeleter(const std::wstring& commandLine)
{
    const std::vector<std::wstring> arguments = argumentsOf(commandLine);
    if (arguments.size() < 2 || arguments[1] != kModeArgument)
    {
        return std::nullopt;
    }
    if (arguments.size() != 6)
    {
        return 2;
    }
    const auto process = numberOf(arguments[2], std::numeric_limits<std::uintptr_t>::max());
    const auto ownFile = numberOf(arguments[3], std::numeric_limits<std::uintptr_t>::max());
    const auto seconds = numberOf(arguments[4], std::numeric_limits<std::uint32_t>::max());
    if (!process || !ownFile || !seconds)
    {
        return 2;
    }

    // Nothing is deleted unless the end of the process has been seen.
    if (::WaitForSingleObject(handleOf(*process), INFINITE) != WAIT_OBJECT_0)
    {
        return 3;
    }
    const bool deleted = deleteWithin(arguments[5], static_cast<std::uint32_t>(*seconds));
    // Not before the end of the process: the process that started the copy may hold its file
    // until then, and a rename would fail.
    leavePrivateFolder(handleOf(*ownFile));
    // The last handle of the copy's file: it goes now, or with the end of this process where the
    // platform keeps a running program's file until then.
    ::CloseHandle(handleOf(*ownFile));
    return deleted ? 0 : 1;
}
