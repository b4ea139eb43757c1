#pragma once

#include "win/UniqueHolder.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// Thin wrappers of the file calls. Each makes one call (or one grow-and-retry loop), returns the
// result by value and throws CTavException with the last error and a message naming the
// operation when the call fails. The try… twins never throw: they return the error code (0 on
// success) for callers that tolerate the failure. The calls that delete, move, rename or copy
// over an entry are halt points (win/CrashHalt.h).
namespace WinAPI
{
struct SplitPath
{
    std::wstring drive;
    std::wstring directory;
    std::wstring fileName;
    std::wstring extension;
};

// True for the codes that say an entry is not there: deleting something missing is success.
bool isMissing(std::uint32_t error);

// The absolute form of a path (the current directory for the empty path).
std::wstring fullpath(const std::wstring& path);
std::wstring getTempFileName(const std::wstring& folder, const std::wstring& prefix);
SplitPath splitpath(const std::wstring& path);
std::wstring makepath(const SplitPath& parts);

// Deletes a file; a missing file is success. Waits (3 seconds at most, then fails with
// ERROR_TIMEOUT) until a file that others still hold open with delete sharing has gone.
// shownPath names the file in messages; systemPath (the same by default) is handed to Windows.
void deleteFile(const std::wstring& shownPath, const std::wstring& systemPath);
void deleteFile(const std::wstring& path);
std::uint32_t tryDeleteFile(const std::wstring& path);
// Removes an empty folder (or a directory link); a missing one is success.
void removeDirectory(const std::wstring& shownPath, const std::wstring& systemPath);
void removeDirectory(const std::wstring& path);
void copyFile(const std::wstring& source, const std::wstring& destination);
std::uint32_t tryCopyFile(const std::wstring& source, const std::wstring& destination);
void moveFile(const std::wstring& source, const std::wstring& destination);
std::uint32_t tryMoveFile(const std::wstring& source, const std::wstring& destination);
// Creates or truncates a file for reading and writing, shared for reading.
CUniqueFile createFile(const std::wstring& path);
// Creates a file that must not exist yet (ERROR_FILE_EXISTS otherwise), for writing, shared for
// reading.
CUniqueFile createNewFile(const std::wstring& path);
// Creates a file that must not exist yet, for reading and writing and for reading its security,
// shared for reading. Any entry at the name, a link (dangling or not) included, makes it fail
// with ERROR_FILE_EXISTS: nothing at the name is ever followed. Returns the error code, 0 on
// success.
std::uint32_t tryCreateNewFile(const std::wstring& path, CUniqueFile& file);
// Opens the entry at path as it is, without following a link at that name where the platform
// can (Wine follows Unix links all the same: see WinAPI::platformFollowsLinks), for reading its
// attributes and security only: nothing of its content is touched. Returns the error code, 0 on
// success.
std::uint32_t tryOpenEntryAsItIs(const std::wstring& path, bool folder, CUniqueFile& entry);
// A handle for reading and writing on the very file an open handle holds (not on whatever its
// name leads to now), shared for reading.
CUniqueFile reopenForWriting(HANDLE file, const std::wstring& shownPath);
// Cuts an open file to length 0.
void truncateFile(HANDLE file, const std::wstring& shownPath);
// Opens an existing file, never through a link at its name, so that others can only read it while
// the handle is open: no one can write, rename or delete it then (nor open it so while anyone
// else holds it for writing or deleting: ERROR_SHARING_VIOLATION). flags as for CreateFileW
// (FILE_FLAG_DELETE_ON_CLOSE, for one).
CUniqueFile openShielded(const std::wstring& path, DWORD access, DWORD flags, bool inheritable);
// Opens an entry (file or folder, never through a link at its name) only to read its attributes
// and identity, sharing everything: such a handle keeps no one from anything.
CUniqueFile openToIdentify(const std::wstring& path, bool inheritable = false);
// A second handle with the given access on the file of an open handle (of any access), sharing
// everything: Windows opens the same file whatever its name is now; Wine opens the first handle's
// name again, which may be another file by then (compare the identities).
CUniqueFile reopenFile(HANDLE file, DWORD access, const std::wstring& shownPath);
// Asks the file system to keep the file compressed. Returns the error code, 0 on success.
std::uint32_t trySetCompression(HANDLE file);
// Writes what Windows still buffers of the file to the disk.
void flushFileBuffers(HANDLE file);
// Everything from the file's current position to its end.
std::string readToEnd(HANDLE file, const std::wstring& shownPath);
// The rename information for name, relative to root (none: name is a full path), never replacing
// an existing entry: a FILE_RENAME_INFO followed by the rest of the name.
std::vector<std::uint8_t> renameInformation(HANDLE root, const std::wstring& name);
// Never throws: an invalid holder means nothing was found.
CUniqueFindHandle findFirstFile(const std::wstring& pattern, WIN32_FIND_DATAW& data);
// False at the end of the listing or when the listing fails.
bool tryFindNextFile(const CUniqueFindHandle& search, WIN32_FIND_DATAW& data);
void writeFile(HANDLE file, const void* bytes, std::uint32_t count);
void writeString(HANDLE file, const std::wstring& text);
// Writes everything the open file from holds (from its start, whatever its file pointer) to the
// open file to, at to's file pointer.
void copyContent(HANDLE from, HANDLE to);
// Moves the file pointer and returns its new position.
std::uint64_t setFilePointer(HANDLE file, LONG distance, DWORD method);
// True when the folder was created or exists already.
bool createDirectory(const std::wstring& path);
// Creates a folder that must not exist yet; returns the error code (0 on success). Nothing at the
// name, a link included, is followed.
std::uint32_t tryCreateNewDirectory(const std::wstring& path);
UINT getDriveType(const std::wstring& path);

// The path with every part that exists in its long form and the letter case as stored (a short
// name "APPLIC~1" as "Application Folder"); the path as it stands when that cannot be read. For
// messages only: the result is not meant to be parsed again.
std::wstring tryGetLongPathName(const std::wstring& path);
// Opens an existing file or folder, following links on the way and at its end, only to ask what
// it is and where it lies; everything stays shared. An invalid holder when it is not found (file
// or path not found); any other failure throws.
CUniqueFile openToLocate(const std::wstring& path);
// The file system's own name of an open entry: its volume's device and the normalised path on it,
// with long names, links resolved and the letter case as stored ("\Device\HarddiskVolume3\Apps\Acme").
// Every handle of one entry gives the same name, however it was opened. With dosVolume, the volume
// as a drive letter or a share ("\\?\C:\Apps\Acme", "\\?\UNC\server\share\dir"), which
// fails for a volume without either.
std::wstring getFinalPathName(HANDLE entry, const std::wstring& shownPath, bool dosVolume = false);
}  // namespace WinAPI

// True for text that names an existing entry. Tests the attributes first and falls back to a
// directory search (which sees files that are in use) only for names without wildcards, so a
// pattern never counts as an existing path.
bool pathExists(const std::wstring& path);
