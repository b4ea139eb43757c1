// The fallback deleter: a copy of the program itself. It runs no other program and interprets no
// text. It waits on the handle of the process, so a reused process id cannot fool it.
//
// The file to delete is identified once, by the run, when it starts the deleter: it opens the
// executable (only to identify it: the handle shares everything and keeps no one from anything),
// reads the copy's content through a second handle on that open file, and hands the first handle
// down. The copy deletes through a second handle on that same open file once the process has
// ended, never by its name again: a name that someone gives another file meanwhile (a running
// program can be renamed) changes nothing. Where the platform opens a second handle by the first
// one's name (Wine), a second handle that leads to another file is refused.
//
// The copy starts from a folder of its own (CRunFolder), never directly from the shared
// temporary folder, where a library planted beside it would be loaded in place of a system one.
// The run holds the copy open, readable by others but neither writable, renamable nor deletable,
// and hands that handle down: the copy's file cannot be changed between its writing and the end of
// the copy. Once the copy runs, its libraries are loaded and the folder has done its job.
//
// The deleter mode acts only for the run that started it. Typed by hand, the numbers on its
// command line name whatever handles a new process happens to hold (under Wine a new process has
// signalled file handles at small values), so before it waits for anything it checks that the
// first handle is a process handle (not its own), that the third is a file handle on the very
// file that process runs (same volume and file id), and that the second is a handle on its own
// program's file: the copy, which the starting run made in a new folder of its own and handed
// down. Only a process that holds that copy open can pass such a handle, and elevated, only the
// system and the administrators can open it. Otherwise the mode deletes nothing and ends with -1,
// after one line on the standard error output where the caller gave one: the only output that is
// surely the caller's (the mode opens no log).

#include "app/CopyDeleter.h"

#include "fs/RunFolder.h"
#include "app/DeleterJob.h"
#include "app/DeleterProcess.h"
#include "app/DriverLog.h"
#include "fs/FolderDeletion.h"
#include "fs/SameFile.h"
#include "win/EntryCalls.h"
#include "win/FileCalls.h"
#include "win/ProcessCalls.h"
#include "win/SystemCalls.h"
#include "win/TavException.h"

#include <shellapi.h>

#include <cwchar>
#include <limits>
#include <string_view>
#include <vector>

namespace
{
// The first argument of the deleter mode.
const wchar_t* const kModeArgument = L"/_FinalDeleter";
constexpr int kRefused = -1;
constexpr DWORD kRetryPauseMs = 250;
constexpr ULONGLONG kFolderWaitMs = 5000;

// What the deleter mode's command line names: the handles of the process, of the copy's own file
// and of the file to delete, the seconds to keep trying, and the file's path (for messages only).
struct CDeleterMode
{
    HANDLE process = nullptr;
    HANDLE ownFile = nullptr;
    HANDLE file = nullptr;
    std::uint32_t seconds = 0;
    std::wstring path;
};

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

// The path as Windows takes it without a length limit.
std::wstring systemPath(const std::wstring& path)
{
    return verbatimForm(CFilePath(WinAPI::fullpath(path)));
}

// The command line's values when they come from startCopyDeleter (see the top of the file).
std::optional<CDeleterMode> modeOf(const std::vector<std::wstring>& arguments)
{
    if (arguments.size() != 7)
    {
        return std::nullopt;
    }
    constexpr std::uint64_t kLargestHandle = std::numeric_limits<std::uintptr_t>::max();
    const auto process = numberOf(arguments[2], kLargestHandle);
    const auto ownFile = numberOf(arguments[3], kLargestHandle);
    const auto file = numberOf(arguments[4], kLargestHandle);
    const auto seconds = numberOf(arguments[5], std::numeric_limits<std::uint32_t>::max());
    if (!process || !ownFile || !file || !seconds)
    {
        return std::nullopt;
    }
    const CDeleterMode mode{handleOf(*process), handleOf(*ownFile), handleOf(*file),
                            static_cast<std::uint32_t>(*seconds), arguments[6]};
    const std::uint32_t processId = WinAPI::tryGetProcessId(mode.process);
    if (processId == 0 || processId == ::GetCurrentProcessId())
    {
        return std::nullopt;
    }
    try
    {
        const CSharedHandle program = WinAPI::openToIdentify(systemPath(WinAPI::getProcessImageName(mode.process)));
        const CSharedHandle self = WinAPI::openToIdentify(systemPath(WinAPI::getModuleFileName()));
        if (isSameEntry(program.get(), mode.file) && isSameEntry(self.get(), mode.ownFile))
        {
            return mode;
        }
    }
    catch (const CTavException&)
    {
        // A program that cannot be identified is not the one.
    }
    return std::nullopt;
}

// The refusal's line, on the caller's standard error output if there is one.
void reportRefusal()
{
    constexpr std::string_view kLine =
        "Tidewell: /_FinalDeleter is the deleter mode of a copy that Tidewell starts itself; nothing was deleted.\r\n";
    const HANDLE output = ::GetStdHandle(STD_ERROR_HANDLE);
    if (output != nullptr && output != INVALID_HANDLE_VALUE && ::GetFileType(output) != FILE_TYPE_UNKNOWN)
    {
        DWORD written = 0;
        ::WriteFile(output, kLine.data(), static_cast<DWORD>(kLine.size()), &written, nullptr);
    }
}

// A second handle on the open file with the given access, or CTavException when it leads to
// another file.
CSharedHandle reopenSame(HANDLE file, DWORD access, const std::wstring& shownPath)
{
    CSharedHandle reopened = WinAPI::reopenFile(file, access, shownPath);
    if (!isSameEntry(reopened.get(), file))
    {
        throw CTavException(ERROR_FILE_INVALID, L"The file " + shownPath + L" is another file now.");
    }
    return reopened;
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

// Tries until the file is deleted or the time is up; false at once when a second handle on it
// leads to another file.
bool deleteWithin(HANDLE file, const std::wstring& shownPath, std::uint32_t seconds)
{
    const ULONGLONG deadline = ::GetTickCount64() + ULONGLONG{seconds} * 1000;
    for (;;)
    {
        try
        {
            const CSharedHandle deletable =
                reopenSame(file, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, shownPath);
            WinAPI::deleteOpenEntry(deletable.get(), WinAPI::EntryKind::File, shownPath);
            return true;
        }
        catch (const CTavException& error)
        {
            if (error.errorCode == ERROR_FILE_INVALID || ::GetTickCount64() >= deadline)
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
    try
    {
        CRunFolder folder(job.folder, job.executable.fileName().withoutExtension(), job.processId);
        const CSharedHandle executable = WinAPI::openToIdentify(verbatimForm(job.executable), true);
        const std::wstring name = job.executable.fileName();
        const CFilePath copy = CFilePath::combine(folder.path(), name);
        // Made new, without the executable's attributes: a read-only copy could not be opened for
        // its own deletion.
        const CSharedHandle copyHandle = folder.addFile(
            name, WinAPI::readToEnd(reopenSame(executable.get(), GENERIC_READ, job.executable).get(), job.executable),
            DELETE | SYNCHRONIZE, FILE_FLAG_DELETE_ON_CLOSE, true);
        const CSharedHandle process =
            WinAPI::duplicateHandle(job.process, SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, true);
        const std::wstring commandLine = L"\"" + copy + L"\" " + kModeArgument + L" " + handleText(process.get()) +
                                         L" " + handleText(copyHandle.get()) + L" " + handleText(executable.get()) +
                                         L" " + std::to_wstring(job.retrySeconds) + L" \"" + job.executable + L"\"";
        startDeleterProcess(copy, commandLine, 0, WinAPI::getSystemDirectory(),
                            {process.get(), copyHandle.get(), executable.get()});
        folder.keep();
        driverLine(kSeverityInfo, L"Final deleter started as a copy of the executable at ", copy);
        return true;
    }
    catch (const CTavException& error)
    {
        // The copy went with its handle, and then its folder.
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
    const std::optional<CDeleterMode> mode = modeOf(arguments);
    if (!mode)
    {
        reportRefusal();
        return kRefused;
    }
    // Nothing is deleted unless the end of the process has been seen.
    if (::WaitForSingleObject(mode->process, INFINITE) != WAIT_OBJECT_0)
    {
        return kRefused;
    }
    const bool deleted = deleteWithin(mode->file, mode->path, mode->seconds);
    // Where a deleted file goes with its last handle, this is it.
    ::CloseHandle(mode->file);
    // Not before the end of the process: the process that started the copy may hold its file
    // until then, and a rename would fail.
    leavePrivateFolder(mode->ownFile);
    // The last handle of the copy's file: it goes now, or with the end of this process where the
    // platform keeps a running program's file until then.
    ::CloseHandle(mode->ownFile);
    return deleted ? 0 : 1;
}
