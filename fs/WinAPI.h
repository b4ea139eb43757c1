#pragma once

#include "fs/FilePath.h"
#include "fs/SharedHolder.h"
#include "fs/TavException.h"

#include <windows.h>

#include <shellapi.h>

#include <cstdint>
#include <string>

// Thin wrappers of Windows calls. Each makes one call (or one grow-and-retry loop), returns the
// result by value and throws CTavException with the last error and a message naming the
// operation when the call fails. This is the only place where a failed Windows call becomes an
// exception.
namespace WinAPI
{
struct SplitPath
{
    std::wstring drive;
    std::wstring directory;
    std::wstring fileName;
    std::wstring extension;
};

// The system's description of an error code followed by "Error code 0x........ (n).".
std::wstring getErrorText(std::uint32_t code);

CFilePath fullpath(const CFilePath& path);
CFilePath getTempPath();
CFilePath getCurrentDirectory();
CFilePath getTempFileName(const CFilePath& folder, const std::wstring& prefix);
SplitPath splitpath(const CFilePath& path);
CFilePath makepath(const SplitPath& parts);

// Deletes a file; a missing file is success. Waits (3 seconds at most, then fails with
// ERROR_TIMEOUT) until a file that others still hold open with delete sharing has gone.
void deleteFile(const CFilePath& path);
// Removes an empty folder (or a directory link); a missing one is success.
void removeDirectory(const CFilePath& path);
// The same for an entry a folder walk has just found, without testing first that it exists:
// systemPath is the verbatim form handed to Windows, path the form shown in messages.
void deleteFile(const CFilePath& path, const std::wstring& systemPath);
void removeDirectory(const CFilePath& path, const std::wstring& systemPath);
// Removes a link (junction, symbolic link, mount point) itself, never what it points to: the
// entry is opened without following it and deleted through that handle only when the handle
// really is the link. Fails with ERROR_NOT_A_REPARSE_POINT where the platform follows the link
// anyway; a missing entry is success.
void deleteLink(const CFilePath& path, const std::wstring& systemPath);

void copyFile(const CFilePath& source, const CFilePath& destination);
void moveFile(const CFilePath& source, const CFilePath& destination);
// Creates or truncates a file for reading and writing, shared for reading.
CSharedHandle createFile(const CFilePath& path);
// Never throws: an invalid holder means nothing was found.
CSharedFindHandle findFirstFile(const std::wstring& pattern, WIN32_FIND_DATAW& data);
// False at the end of the listing.
bool findNextFile(const CSharedFindHandle& search, WIN32_FIND_DATAW& data);
void writeFile(HANDLE file, const void* bytes, std::uint32_t count);
void writeString(HANDLE file, const std::wstring& text);
void setFilePointer(HANDLE file, LONG distance, DWORD method);
bool createDirectory(const CFilePath& path);
UINT getDriveType(const CFilePath& path);
CFilePath getWindowsDirectory();
CFilePath getSystemDirectory();
// The Program Files folder, created when missing.
CFilePath shGetSpecialFolderPath();
std::wstring getComputerName();
std::wstring getUserName();
// The path of a module; null means the program's own file.
CFilePath getModuleFileName(HMODULE module = nullptr);
CSharedHandle getCurrentProcess();
// Creates or opens a named mutex; existed tells whether it was there already (then initial
// ownership was not granted). Throws "Error creating mutex " + name.
CSharedHandle createMutex(const std::wstring& name, bool initialOwner, bool& existed);
std::wstring expandEnvironmentStrings(const std::wstring& text);
// Hands a request to the shell; throws with the last error when nothing could be started.
void shellExecuteEx(SHELLEXECUTEINFOW& request);
// Starts a program with its own copy of commandLine, inheriting no handles; the thread handle is
// closed, the process handle returned.
CSharedHandle createProcess(const CFilePath& application, const std::wstring& commandLine, DWORD flags,
                            const CFilePath& currentDirectory);
}  // namespace WinAPI
