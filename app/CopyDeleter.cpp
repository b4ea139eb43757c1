// The final deleter: a copy of the program itself. It runs no other program and interprets no
// text. It waits on the handle of the process, so a reused process id cannot fool it, and it never
// deletes by a path: a path looked up after the run has ended leads wherever someone who may rename
// an entry on the way has pointed it by then.
//
// The file to delete is identified once, by the run, when it starts the deleter: it opens the
// executable (only to identify it: the handle shares everything and keeps no one from anything),
// reads the copy's content through a second handle on that open file, and hands the first handle
// down. The copy deletes through a second handle on that same open file once the process has
// ended, never by its name again: a name that someone gives another file meanwhile (a running
// program can be renamed) changes nothing. Where the platform opens a second handle by the first
// one's name (Wine), a second handle that leads to another file is refused. The executable's
// folder, where the run holds it (/DeleteSelf:Folder), goes the same way: identified by the run,
// handed down as a handle that keeps no one from anything, opened again with delete access only
// after the run (and the hold of the installer that made it) has let go, and removed through that
// handle only while it is that very folder and empty.
//
// The copy starts from a folder of its own (CRunFolder), never directly from the shared
// temporary folder, where a library planted beside it would be loaded in place of a system one.
// The run holds the copy open, readable by others but neither writable, renamable nor deletable,
// and hands that handle down: the copy's file cannot be changed between its writing and the end of
// the copy. Once the copy runs, its libraries are loaded and the folder has done its job.
//
// The deleter mode acts only for the run that started it. Typed by hand, the numbers on its
// command line name whatever handles a new process happens to hold (under Wine a new process has
// signalled file handles at small values), and a program that starts the mode itself can hand
// down handles of its choice. So before it waits for anything the mode checks that the first
// handle is a process handle on the process that started it (its parent, not itself), that the
// third is a file handle on the very file that process runs (same volume and file id), that the
// second is a handle on its own program's file, and that the fourth is a handle on the folder its
// own program lies in, a folder with a name that startCopyDeleter gives its folders for that
// process (CRunFolder: <name>.<process id>[.<random digits>]); a fifth handle, of the executable's
// folder, must be of the folder that file lies in. Started any other way, the mode deletes,
// renames and removes nothing and ends with -1, after one line on the standard error output where
// the caller gave one: the only output that is surely the caller's (the mode opens no log).

#include "app/CopyDeleter.h"

#include "app/DeleterJob.h"
#include "app/DeleterProcess.h"
#include "app/DriverLog.h"
#include "fs/ExecutableFolder.h"
#include "fs/RunFolder.h"
#include "fs/SameFile.h"
#include "fs/UniqueName.h"
#include "win/Deadline.h"
#include "win/EntryCalls.h"
#include "win/FileCalls.h"
#include "win/MoveCalls.h"
#include "win/ProcessCalls.h"
#include "win/SystemCalls.h"
#include "win/TavException.h"

#include <cwchar>
#include <limits>
#include <string_view>
#include <vector>

namespace App
{
namespace
{
// The first argument of the deleter mode.
const wchar_t* const kModeArgument = L"/_FinalDeleter";
constexpr std::size_t kModeArguments = 9;
constexpr int kRefused = -1;
constexpr std::uint32_t kRetryPauseMs = 250;
// How long a folder may be kept from its removal: someone listing it (a scanner, a file manager),
// the installer that made it still closing its handle, a classic delete that others still hold.
constexpr std::uint64_t kFolderWaitMs = 5000;
constexpr std::uint64_t kProgramLookupMs = 2000;
constexpr std::uint32_t kLookupPauseMs = 50;

// What the deleter mode's command line names: the handles of the process, of the copy's own file,
// of the file to delete, of the copy's folder and of the executable's folder (or none), the seconds
// to keep trying, and the file's path (for messages, and the file's name in its folder).
struct CDeleterMode
{
    HANDLE process = nullptr;
    HANDLE ownFile = nullptr;
    HANDLE file = nullptr;
    HANDLE ownFolder = nullptr;
    HANDLE executableFolder = nullptr;
    std::uint32_t seconds = 0;
    CFilePath path;
};

std::wstring handleText(HANDLE handle)
{
    return std::to_wstring(reinterpret_cast<std::uintptr_t>(handle));
}

HANDLE handleOf(std::uint64_t value)
{
    return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(value));
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

// The program the process runs, opened only to identify it. A running program may be renamed (or
// its folder moved) and a new name put where it was: while its path leads nowhere, the look-up is
// tried again for a moment.
CUniqueFile openProgramOf(HANDLE process)
{
    const CDeadline deadline(kProgramLookupMs);
    for (;;)
    {
        try
        {
            return WinAPI::openToIdentify(systemPath(WinAPI::getProcessImageName(process)));
        }
        catch (const CTavException& error)
        {
            if (!WinAPI::isMissing(error.errorCode) || !deadline.pause(kLookupPauseMs))
            {
                throw;
            }
        }
    }
}

// True when the folder handle holds an entry called name that is the file of the handle file.
bool holdsEntry(HANDLE folder, const std::wstring& name, HANDLE file, const std::wstring& shownPath)
{
    const CUniqueFile entry = WinAPI::openEntryToQuery(folder, name, shownPath);
    return entry.isValid() && isSameEntry(entry.get(), file);
}

// The command line's values when they come from startCopyDeleter of the process that started this
// one (see the top of the file).
std::optional<CDeleterMode> modeOf(const std::vector<std::wstring>& arguments)
{
    if (arguments.size() != kModeArguments)
    {
        return std::nullopt;
    }
    constexpr std::uint64_t kLargestHandle = std::numeric_limits<std::uintptr_t>::max();
    std::vector<HANDLE> handles;
    for (std::size_t index = 2; index <= 6; ++index)
    {
        const auto value = numberOf(arguments[index], kLargestHandle);
        if (!value)
        {
            return std::nullopt;
        }
        handles.push_back(handleOf(*value));
    }
    const auto seconds = numberOf(arguments[7], std::numeric_limits<std::uint32_t>::max());
    if (!seconds || arguments[8].empty())
    {
        return std::nullopt;
    }
    const CDeleterMode mode{handles[0],
                            handles[1],
                            handles[2],
                            handles[3],
                            handles[4],
                            static_cast<std::uint32_t>(*seconds),
                            CFilePath(arguments[8])};
    try
    {
        const std::uint32_t processId = WinAPI::tryGetProcessId(mode.process);
        // The handle keeps the id of its process from being given to another: the parent's id
        // is that process only while the parent is that process.
        if (processId == 0 || processId == ::GetCurrentProcessId() || processId != WinAPI::getParentProcessId())
        {
            return std::nullopt;
        }
        const CFilePath self(WinAPI::getModuleFileName());
        const CUniqueFile program = openProgramOf(mode.process);
        const CUniqueFile ownProgram = WinAPI::openToIdentify(systemPath(self));
        if (!isSameEntry(program.get(), mode.file) || !isSameEntry(ownProgram.get(), mode.ownFile) ||
            !isUniqueName(self.parent().fileName(), self.fileName().withoutExtension(), processId) ||
            !holdsEntry(mode.ownFolder, self.fileName(), mode.ownFile, self))
        {
            return std::nullopt;
        }
        if (mode.executableFolder != nullptr &&
            !holdsEntry(mode.executableFolder, mode.path.fileName(), mode.file, mode.path))
        {
            return std::nullopt;
        }
        return mode;
    }
    catch (const CTavException&)
    {
        // A program or folder that cannot be identified is not the one.
    }
    return std::nullopt;
}

// A second handle on the open file with the given access, or CTavException when it leads to
// another file.
CUniqueFile reopenSame(HANDLE file, DWORD access, const std::wstring& shownPath)
{
    CUniqueFile reopened = WinAPI::reopenFile(file, access, shownPath);
    if (!isSameEntry(reopened.get(), file))
    {
        throw CTavException(ERROR_FILE_INVALID, L"The file " + shownPath + L" is another file now.");
    }
    return reopened;
}

// Removes the folder of the handle (one that only identifies it) through a second handle with
// delete access, only while that leads to the very folder and nothing is in it; waits a moment for
// those who keep it from its removal. True when it is gone.
bool removeEmptyFolder(HANDLE folder, const std::wstring& shownPath)
{
    const CDeadline deadline(kFolderWaitMs);
    for (;;)
    {
        try
        {
            const CUniqueFile removal = WinAPI::reopenFolder(folder, WinAPI::FolderUse::Remove, shownPath);
            if (!removal.isValid() || !isSameEntry(removal.get(), folder))
            {
                return false;
            }
            WinAPI::deleteOpenEntry(removal.get(), WinAPI::EntryKind::Folder, shownPath);
            return true;
        }
        catch (const CTavException& error)
        {
            const bool kept = error.errorCode == ERROR_SHARING_VIOLATION || error.errorCode == ERROR_DIR_NOT_EMPTY;
            if (!kept || !deadline.pause(kRetryPauseMs))
            {
                return false;
            }
        }
    }
}

// The folder that holds the copy's folder, opened while the run that made both holds the copy's
// folder (so that it still lies there) and checked to hold it; an invalid holder when it cannot be
// had: the copy then stays in its folder.
CUniqueFile folderAbove(const CFilePath& ownFolder, HANDLE ownFolderHandle)
{
    try
    {
        CUniqueFile above = WinAPI::openFolder(systemPath(ownFolder.parent()));
        if (above.isValid() && holdsEntry(above.get(), ownFolder.fileName(), ownFolderHandle, ownFolder))
        {
            return above;
        }
    }
    catch (const CTavException&)
    {
        // Then the copy stays where it is.
    }
    return CUniqueFile();
}

// Moves the running copy into the folder above its own (the folder's name with ".exe", or a
// random name where that is taken) and removes its folder. The copy's file goes with its last
// handle under its new name as well; where it cannot move, file and folder stay as they are.
void leavePrivateFolder(HANDLE ownFile, HANDLE ownFolder, HANDLE above, const CFilePath& folder)
{
    try
    {
        takeUniqueName(folder.fileName(), L".exe", [&](const std::wstring& name) {
            const std::uint32_t error = WinAPI::tryRenameInto(ownFile, above, name);
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)
            {
                return false;
            }
            if (error != ERROR_SUCCESS)
            {
                throw CTavException(error, L"WinAPI::renameFile(" + folder + L") failed.");
            }
            return true;
        });
    }
    catch (const CTavException&)
    {
        return;
    }
    removeEmptyFolder(ownFolder, folder);
}

// Tries until the file is deleted or the time is up; false at once when a second handle on it
// leads to another file.
bool deleteWithin(HANDLE file, const std::wstring& shownPath, std::uint32_t seconds)
{
    const CDeadline deadline(std::uint64_t{seconds} * 1000);
    for (;;)
    {
        try
        {
            const CUniqueFile deletable =
                reopenSame(file, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, shownPath);
            WinAPI::deleteOpenEntry(deletable.get(), WinAPI::EntryKind::File, shownPath);
            return true;
        }
        catch (const CTavException& error)
        {
            if (error.errorCode == ERROR_FILE_INVALID || !deadline.pause(kRetryPauseMs))
            {
                return false;
            }
        }
    }
}
}  // namespace

bool startCopyDeleter(const CDeleterJob& job)
{
    try
    {
        const std::uint32_t processId = ::GetCurrentProcessId();
        CRunFolder folder(job.folder, job.executable.fileName().withoutExtension(), processId);
        const CUniqueFile executable = WinAPI::openToIdentify(verbatimForm(job.executable), true);
        if (job.image != nullptr && !isSameEntry(executable.get(), job.image))
        {
            throw CTavException(ERROR_FILE_INVALID, L"The name " + job.executable + L" leads to another file now.");
        }
        const std::wstring name = job.executable.fileName();
        const CFilePath copy = CFilePath::combine(folder.path(), name);
        // Made new, without the executable's attributes: a read-only copy could not be opened for
        // its own deletion.
        const CUniqueFile copyHandle = folder.addFile(
            name, WinAPI::readToEnd(reopenSame(executable.get(), GENERIC_READ, job.executable).get(), job.executable),
            DELETE | SYNCHRONIZE, FILE_FLAG_DELETE_ON_CLOSE, true);
        const CUniqueFile folderHandle = folder.identify();
        const CUniqueFile executableFolder =
            job.executableFolder != nullptr ? job.executableFolder->identify() : CUniqueFile();
        const CUniqueHandle process =
            WinAPI::duplicateHandle(::GetCurrentProcess(), SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, true);
        const std::wstring commandLine = L"\"" + copy + L"\" " + kModeArgument + L" " + handleText(process.get()) +
                                         L" " + handleText(copyHandle.get()) + L" " + handleText(executable.get()) +
                                         L" " + handleText(folderHandle.get()) + L" " +
                                         (executableFolder.isValid() ? handleText(executableFolder.get()) : L"0") +
                                         L" " + std::to_wstring(job.retrySeconds) + L" \"" + job.executable + L"\"";
        std::vector<HANDLE> inherited{process.get(), copyHandle.get(), executable.get(), folderHandle.get()};
        if (executableFolder.isValid())
        {
            inherited.push_back(executableFolder.get());
        }
        startDeleterProcess(copy, commandLine, WinAPI::getSystemDirectory(), inherited);
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
    const std::vector<std::wstring> arguments = WinAPI::commandLineToArgv(commandLine);
    if (arguments.size() < 2 || arguments[1] != kModeArgument)
    {
        return std::nullopt;
    }
    const std::optional<CDeleterMode> mode = modeOf(arguments);
    if (!mode)
    {
        WinAPI::tryWriteStandardError(
            "Tidewell: /_FinalDeleter is the deleter mode of a copy that Tidewell starts "
            "itself; nothing was deleted.\r\n");
        return kRefused;
    }
    const CFilePath ownFolder = CFilePath(WinAPI::tryGetModuleFileName()).parent();
    const CUniqueFile above = folderAbove(ownFolder, mode->ownFolder);
    // The handles handed down are this process's own from here on.
    CUniqueFile file(mode->file);
    const CUniqueFile ownFile(mode->ownFile);
    // Nothing is deleted unless the end of the process has been seen.
    try
    {
        WinAPI::waitForever(mode->process, mode->path);
    }
    catch (const CTavException&)
    {
        return kRefused;
    }
    const bool deleted = deleteWithin(file.get(), mode->path, mode->seconds);
    // Where a deleted file goes with its last handle, this is it.
    file.reset();
    if (deleted && mode->executableFolder != nullptr)
    {
        removeEmptyFolder(mode->executableFolder, mode->path.parent());
    }
    // Not before the end of the process: the process that started the copy may hold its file
    // until then, and a rename would fail.
    if (above.isValid())
    {
        leavePrivateFolder(ownFile.get(), mode->ownFolder, above.get(), ownFolder);
    }
    // ownFile is the last handle of the copy's file: it goes with it, or with the end of this
    // process where the platform keeps a running program's file until then.
    return deleted ? 0 : 1;
}
}  // namespace App
