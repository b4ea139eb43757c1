#include "win/EntryCalls.h"

#include "win/CrashHalt.h"
#include "win/DirectoryRecords.h"
#include "win/FileCalls.h"
#include "win/GrowBuffer.h"
#include "win/NativeCalls.h"
#include "win/TavException.h"

#include <winternl.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <memory>

namespace
{
constexpr LONG kStatusNoSuchFile = static_cast<LONG>(0xC000000F);
constexpr LONG kStatusObjectNameNotFound = static_cast<LONG>(0xC0000034);
constexpr LONG kStatusObjectPathNotFound = static_cast<LONG>(0xC000003A);
constexpr LONG kStatusDeletePending = static_cast<LONG>(0xC0000056);
constexpr LONG kStatusNoMoreFiles = static_cast<LONG>(0x80000006);
constexpr LONG kStatusBufferOverflow = static_cast<LONG>(0x80000005);
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);
constexpr ULONG kObjectNameInformation = 1;
constexpr ULONG kFileInternalInformation = 6;
constexpr ULONG kFileRenameInformation = 10;
constexpr ULONG kFileIdBothDirectoryInformation = 37;
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kReadOnly = FILE_ATTRIBUTE_READONLY;
// The attributes a caller may set (FILE_ATTRIBUTE_VALID_SET_FLAGS).
constexpr DWORD kSettable = 0x31A7;

// Windows 10 1809 and later: FileDispositionInfoEx with these flags.
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD kDispositionDelete = 0x1;
constexpr DWORD kDispositionPosixSemantics = 0x2;
constexpr DWORD kDispositionIgnoreReadOnly = 0x10;
struct DispositionInfoEx
{
    DWORD flags;
};

// Set once a platform or file system has refused the extended disposition: the classic one runs
// from then on, without asking again for every entry.
std::atomic<bool> g_classicDisposition{false};

bool isGone(LONG status)
{
    return status == kStatusObjectNameNotFound || status == kStatusObjectPathNotFound || status == kStatusNoSuchFile ||
           status == kStatusDeletePending;
}

// One entry as a listing record shows it; the reparse tag only with the reparse attribute.
template <class Record>
WinAPI::DirectoryEntry listedEntry(const Record& record)
{
    WinAPI::DirectoryEntry entry;
    entry.name.assign(record.FileName, record.FileNameLength / sizeof(wchar_t));
    entry.attributes = record.FileAttributes;
    entry.reparseTag = (record.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? record.EaSize : 0;
    entry.size = static_cast<std::uint64_t>(record.EndOfFile.QuadPart);
    return entry;
}

WinAPI::DirectoryEntry entryOf(const FILE_ID_BOTH_DIR_INFO& record)
{
    WinAPI::DirectoryEntry entry = listedEntry(record);
    entry.fileId = static_cast<std::uint64_t>(record.FileId.QuadPart);
    return entry;
}

WinAPI::DirectoryEntry entryOf(const FILE_FULL_DIR_INFO& record)
{
    return listedEntry(record);
}

// Adds a listed entry to the batch; "." and ".." are no entries.
void addListed(std::vector<WinAPI::DirectoryEntry>& batch, WinAPI::DirectoryEntry entry)
{
    if (entry.name != L"." && entry.name != L"..")
    {
        batch.push_back(std::move(entry));
    }
}

[[noreturn]] void throwStatus(LONG status, const std::wstring& message)
{
    throw CTavException(native().statusToError(status), message);
}

[[noreturn]] void throwError(DWORD error, const std::wstring& message)
{
    throw CTavException(error, message);
}

// How an entry is opened relative to its folder.
struct COpenRequest
{
    ACCESS_MASK access;
    ULONG options;
    ULONG disposition = FILE_OPEN;
    ULONG sharing = kShareAll;
};

// Opens name relative to folder (an empty name: the folder itself again). Returns the status.
LONG openRelative(HANDLE folder, const std::wstring& name, const COpenRequest& request, CUniqueFile& opened)
{
    CRelativeName relative(folder, name);
    IO_STATUS_BLOCK io{};
    HANDLE handle = nullptr;
    const LONG status = native().createFile(
        &handle, request.access | SYNCHRONIZE, relative.get(), &io, nullptr, FILE_ATTRIBUTE_NORMAL, request.sharing,
        request.disposition, request.options | FILE_OPEN_FOR_BACKUP_INTENT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (status >= 0)
    {
        opened = CUniqueFile(handle);
    }
    return status;
}

LONG openRelative(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG options, CUniqueFile& opened)
{
    return openRelative(folder, name, COpenRequest{access, options}, opened);
}

// openRelative for an entry of the walk: an invalid holder when the entry is gone, an exception
// naming the entry for any other failure.
CUniqueFile openUnlessGone(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG options,
                           WinAPI::EntryKind kind, const std::wstring& shownPath)
{
    CUniqueFile entry;
    const LONG status = openRelative(folder, name, access, options, entry);
    if (status < 0 && !isGone(status))
    {
        throwStatus(status, WinAPI::entryFailure(kind, shownPath));
    }
    return entry;
}

// The open of the walk: delete access and what the kind of entry needs, everything shared, no link
// followed at the name. moreAccess: FILE_WRITE_ATTRIBUTES for the deletion itself (a read-only
// entry loses the attribute through the handle), nothing for a check that must not change it.
CUniqueFile openForDeletion(HANDLE folder, const std::wstring& name, WinAPI::EntryKind kind, ACCESS_MASK moreAccess,
                            const std::wstring& shownPath)
{
    ACCESS_MASK access = DELETE | FILE_READ_ATTRIBUTES | moreAccess;
    ULONG options = FILE_OPEN_REPARSE_POINT;
    if (kind == WinAPI::EntryKind::Folder)
    {
        access |= FILE_LIST_DIRECTORY | FILE_TRAVERSE;
        options |= FILE_DIRECTORY_FILE;
    }
    else if (kind == WinAPI::EntryKind::File)
    {
        options |= FILE_NON_DIRECTORY_FILE;
    }
    return openUnlessGone(folder, name, access, options, kind, shownPath);
}

bool setInformation(HANDLE entry, FILE_INFO_BY_HANDLE_CLASS type, void* data, DWORD size)
{
    return ::SetFileInformationByHandle(entry, type, data, size) != FALSE;
}

// The extended disposition: POSIX semantics, read-only ignored. False when the platform or the
// file system does not have it.
bool deleteExtended(HANDLE entry, const std::wstring& message)
{
    DispositionInfoEx disposition{kDispositionDelete | kDispositionPosixSemantics | kDispositionIgnoreReadOnly};
    if (setInformation(entry, kFileDispositionInfoEx, &disposition, sizeof disposition))
    {
        return true;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION)
    {
        g_classicDisposition = true;
        return false;
    }
    throwError(error, message);
}

// The number of names of an open file; 0 when it cannot be read.
std::uint32_t linkCount(HANDLE entry)
{
    FILE_STANDARD_INFO standard{};
    return ::GetFileInformationByHandleEx(entry, FileStandardInfo, &standard, sizeof standard) ? standard.NumberOfLinks
                                                                                               : 0;
}

void deleteClassic(HANDLE entry, WinAPI::EntryKind kind, const std::wstring& message)
{
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (setInformation(entry, FileDispositionInfo, &disposition, sizeof disposition))
    {
        return;
    }
    const DWORD error = ::GetLastError();
    FILE_BASIC_INFO basic{};
    if (error != ERROR_ACCESS_DENIED || !::GetFileInformationByHandleEx(entry, FileBasicInfo, &basic, sizeof basic) ||
        (basic.FileAttributes & kReadOnly) == 0)
    {
        throwError(error, message);
    }
    // Read-only: the attribute belongs to the file, not to this name, so it is cleared through
    // this handle only for the delete and put back where the file lives on. Zero times are left
    // as they are.
    const DWORD original = basic.FileAttributes & kSettable;
    FILE_BASIC_INFO change{};
    change.FileAttributes = (original & ~kReadOnly) != 0 ? (original & ~kReadOnly) : FILE_ATTRIBUTE_NORMAL;
    if (!setInformation(entry, FileBasicInfo, &change, sizeof change))
    {
        throwError(error, message);
    }
    FILE_BASIC_INFO restore{};
    restore.FileAttributes = original;
    if (!setInformation(entry, FileDispositionInfo, &disposition, sizeof disposition))
    {
        const DWORD retryError = ::GetLastError();
        setInformation(entry, FileBasicInfo, &restore, sizeof restore);
        throwError(retryError, message);
    }
    if (kind == WinAPI::EntryKind::File && linkCount(entry) != 1)
    {
        setInformation(entry, FileBasicInfo, &restore, sizeof restore);
    }
}
}  // namespace

namespace WinAPI
{
bool isLink(std::uint32_t attributes, std::uint32_t reparseTag)
{
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
           (reparseTag == 0 || IsReparseTagNameSurrogate(reparseTag));
}

std::wstring entryFailure(EntryKind kind, const std::wstring& shownPath)
{
    switch (kind)
    {
    case EntryKind::Folder:
        return L"WinAPI::removeDirectory(" + shownPath + L") failed.";
    case EntryKind::Link:
        return L"WinAPI::deleteLink(" + shownPath + L") failed.";
    case EntryKind::File:
        break;
    }
    return L"WinAPI::deleteFile(" + shownPath + L") failed.";
}

bool platformFollowsLinks()
{
    return native().followsLinks;
}

CUniqueFile openFolder(const std::wstring& path, ACCESS_MASK moreAccess)
{
    CUniqueFile folder(::CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE | SYNCHRONIZE | moreAccess,
                                     kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder.isValid())
    {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
        {
            throwError(error, L"WinAPI::openFolder(" + path + L") failed.");
        }
    }
    return folder;
}

CUniqueFile openEntry(HANDLE folder, const std::wstring& name, EntryKind kind, const std::wstring& shownPath)
{
    return openForDeletion(folder, name, kind, FILE_WRITE_ATTRIBUTES, shownPath);
}

CUniqueFile openEntryToCheck(HANDLE folder, const std::wstring& name, EntryKind kind, const std::wstring& shownPath)
{
    return openForDeletion(folder, name, kind, 0, shownPath);
}

CUniqueFile openFolderToEmpty(HANDLE folder, const std::wstring& name, const std::wstring& shownPath)
{
    return openUnlessGone(folder, name, FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY | FILE_TRAVERSE,
                          FILE_OPEN_REPARSE_POINT | FILE_DIRECTORY_FILE, EntryKind::Folder, shownPath);
}

CUniqueFile reopenFolder(HANDLE folder, FolderUse use, const std::wstring& shownPath)
{
    ACCESS_MASK access = FILE_LIST_DIRECTORY;
    if (use == FolderUse::Remove)
    {
        access = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
    }
    else if (use == FolderUse::CheckRemoval)
    {
        access = DELETE | FILE_READ_ATTRIBUTES;
    }
    else if (use == FolderUse::Identify)
    {
        access = FILE_READ_ATTRIBUTES;
    }
    return openUnlessGone(folder, L"", access, FILE_DIRECTORY_FILE, EntryKind::Folder, shownPath);
}

bool findEntry(HANDLE folder, const std::wstring& name, DirectoryEntry& entry, const std::wstring& shownPath)
{
    // A handle of its own: a listing handle keeps the pattern of its first search.
    CUniqueFile search;
    const LONG opened = openRelative(folder, L"", FILE_LIST_DIRECTORY, FILE_DIRECTORY_FILE, search);
    if (opened < 0)
    {
        throwStatus(opened, L"WinAPI::findEntry(" + shownPath + L") failed.");
    }
    return findListedEntry(search.get(), name, entry, shownPath);
}

bool findListedEntry(HANDLE listing, const std::wstring& name, DirectoryEntry& entry, const std::wstring& shownPath)
{
    std::vector<std::uint64_t> buffer((sizeof(FILE_ID_BOTH_DIR_INFO) + MAX_PATH * sizeof(wchar_t)) / 8 + 1);
    UNICODE_STRING pattern;
    pattern.Buffer = const_cast<PWSTR>(name.c_str());
    pattern.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    pattern.MaximumLength = pattern.Length;
    IO_STATUS_BLOCK io{};
    const LONG status = native().queryDirectoryFile(listing, nullptr, nullptr, nullptr, &io, buffer.data(),
                                                    static_cast<ULONG>(buffer.size() * sizeof(std::uint64_t)),
                                                    kFileIdBothDirectoryInformation, TRUE, &pattern, TRUE);
    if (status == kStatusNoSuchFile || status == kStatusNoMoreFiles || isGone(status))
    {
        return false;
    }
    if (status < 0)
    {
        // Not allowed to list, say: that is no answer to whether the entry is there.
        throwStatus(status, L"WinAPI::findEntry(" + shownPath + L") failed.");
    }
    const CDirectoryRecords<FILE_ID_BOTH_DIR_INFO> records(buffer.data(), io.Information);
    if (records.begin() == records.end())
    {
        return false;
    }
    const FILE_ID_BOTH_DIR_INFO& record = *records.begin();
    entry = entryOf(record);
    // The file system matches a name against the long and the short name of each entry; a pattern
    // character in the name would have matched something else.
    const std::wstring shortName(record.ShortName, record.ShortNameLength / sizeof(wchar_t));
    const auto same = [&name](const std::wstring& listed) {
        return ::CompareStringOrdinal(listed.c_str(), static_cast<int>(listed.size()), name.c_str(),
                                      static_cast<int>(name.size()), TRUE) == CSTR_EQUAL;
    };
    return same(entry.name) || (!shortName.empty() && same(shortName));
}

CUniqueFile openEntryToQuery(HANDLE folder, const std::wstring& name, const std::wstring& shownPath)
{
    return openUnlessGone(folder, name, FILE_READ_ATTRIBUTES, FILE_OPEN_REPARSE_POINT, EntryKind::File, shownPath);
}

CUniqueFile openFileRelative(HANDLE folder, const std::wstring& name, ACCESS_MASK access, bool create,
                             const std::wstring& shownPath, bool deleteOnClose)
{
    const ULONG options =
        FILE_OPEN_REPARSE_POINT | FILE_NON_DIRECTORY_FILE | (deleteOnClose ? FILE_DELETE_ON_CLOSE : 0u);
    COpenRequest request{access, options};
    request.disposition = create ? FILE_CREATE : FILE_OPEN;
    request.sharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
    CUniqueFile file;
    const LONG status = openRelative(folder, name, request, file);
    if (status < 0 && (create || !isGone(status)))
    {
        throwStatus(status, L"WinAPI::openFile(" + shownPath + L") failed.");
    }
    return file;
}

std::uint32_t getLinkCount(HANDLE entry, const std::wstring& shownPath)
{
    const std::uint32_t count = linkCount(entry);
    if (count == 0)
    {
        throwError(::GetLastError(), L"WinAPI::getLinkCount(" + shownPath + L") failed.");
    }
    return count;
}

EntryFacts queryEntry(HANDLE entry, EntryKind kind, const std::wstring& shownPath)
{
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!::GetFileInformationByHandleEx(entry, FileAttributeTagInfo, &tag, sizeof tag))
    {
        throwError(::GetLastError(), entryFailure(kind, shownPath));
    }
    IO_STATUS_BLOCK io{};
    LARGE_INTEGER id{};
    const LONG status = native().queryInformationFile(entry, &io, &id, sizeof id, kFileInternalInformation);
    if (status < 0)
    {
        throwStatus(status, entryFailure(kind, shownPath));
    }
    return {tag.FileAttributes, tag.ReparseTag, static_cast<std::uint64_t>(id.QuadPart)};
}

std::uint64_t queryFileId(HANDLE entry, const std::wstring& shownPath)
{
    IO_STATUS_BLOCK io{};
    LARGE_INTEGER id{};
    const LONG status = native().queryInformationFile(entry, &io, &id, sizeof id, kFileInternalInformation);
    if (status < 0)
    {
        throwStatus(status, L"WinAPI::queryFileId(" + shownPath + L") failed.");
    }
    return static_cast<std::uint64_t>(id.QuadPart);
}

std::wstring queryEntryName(HANDLE entry, EntryKind kind, const std::wstring& shownPath)
{
    // The object's name: one call on Wine (a file query would first fetch the Unix descriptor).
    LONG status = 0;
    const auto buffer = growAndRetry<std::uint64_t>(
        (sizeof(UNICODE_STRING) + MAX_PATH * sizeof(wchar_t)) / 8, [&](std::vector<std::uint64_t>& b) {
            ULONG needed = 0;
            status = native().queryObject(entry, kObjectNameInformation, b.data(),
                                          static_cast<ULONG>(b.size() * sizeof(std::uint64_t)), &needed);
            const bool tooSmall = status == kStatusBufferOverflow || status == kStatusInfoLengthMismatch;
            return tooSmall ? std::optional<std::size_t>(needed / 8 + 1) : std::nullopt;
        });
    if (status < 0)
    {
        throwStatus(status, entryFailure(kind, shownPath));
    }
    const auto* name = reinterpret_cast<const UNICODE_STRING*>(buffer.data());
    return std::wstring(name->Buffer, name->Length / sizeof(wchar_t));
}

bool deleteOpenEntry(HANDLE entry, EntryKind kind, const std::wstring& shownPath)
{
    CCrashHalt::point();
    const std::wstring message = entryFailure(kind, shownPath);
    if (!g_classicDisposition && deleteExtended(entry, message))
    {
        return true;
    }
    deleteClassic(entry, kind, message);
    return false;
}

std::uint32_t trySetEntryAttributes(HANDLE entry, std::uint32_t attributes)
{
    // Zero times are left as they are; no attribute at all is "normal".
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = (attributes & kSettable) != 0 ? (attributes & kSettable) : FILE_ATTRIBUTE_NORMAL;
    return setInformation(entry, FileBasicInfo, &basic, sizeof basic) ? ERROR_SUCCESS : ::GetLastError();
}

std::uint32_t tryRenameInto(HANDLE entry, HANDLE folder, const std::wstring& name)
{
    CCrashHalt::point();
    // The native call: SetFileInformationByHandle does not take a root folder everywhere.
    std::vector<std::uint8_t> info = renameInformation(folder, name);
    IO_STATUS_BLOCK io{};
    const LONG status =
        native().setInformationFile(entry, &io, info.data(), static_cast<ULONG>(info.size()), kFileRenameInformation);
    return status >= 0 ? ERROR_SUCCESS : native().statusToError(status);
}

bool CEntryReader::next(std::vector<DirectoryEntry>& batch)
{
    batch.clear();
    if (!m_listing.isValid())
    {
        return false;
    }
    // A buffer for this call only: a walk keeps a reader open for every level of folders above the
    // one it is in, thousands in a deep tree, and only their parsed entries need to stay.
    constexpr std::size_t kBufferWords = 8192;
    const std::unique_ptr<std::uint64_t[]> buffer(new std::uint64_t[kBufferWords]);
    const DWORD bytes = static_cast<DWORD>(kBufferWords * sizeof(std::uint64_t));
    for (;;)
    {
        const FILE_INFO_BY_HANDLE_CLASS type =
            m_withIds ? (m_started ? FileIdBothDirectoryInfo : FileIdBothDirectoryRestartInfo)
                      : (m_started ? FileFullDirectoryInfo : FileFullDirectoryRestartInfo);
        if (::GetFileInformationByHandleEx(m_listing.get(), type, buffer.get(), bytes))
        {
            break;
        }
        const DWORD error = ::GetLastError();
        if (!m_started && m_withIds && (error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED))
        {
            // A file system without ids in its listings: list without them.
            m_withIds = false;
            continue;
        }
        // The end, or a folder that cannot be listed (then its removal reports what is left).
        m_listing.reset();
        return false;
    }
    m_started = true;
    if (m_withIds)
    {
        for (const FILE_ID_BOTH_DIR_INFO& record : CDirectoryRecords<FILE_ID_BOTH_DIR_INFO>(buffer.get(), bytes))
        {
            addListed(batch, entryOf(record));
        }
    }
    else
    {
        for (const FILE_FULL_DIR_INFO& record : CDirectoryRecords<FILE_FULL_DIR_INFO>(buffer.get(), bytes))
        {
            addListed(batch, entryOf(record));
        }
    }
    return true;
}
}  // namespace WinAPI
