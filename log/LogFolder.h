#pragma once

#include "win/UniqueHolder.h"

#include <windows.h>

#include <string>
#include <vector>

// The log's own files in one folder, reached only through the folder's open handle.
//
// A log folder may be one that others can write (a user's own folder, the temporary folder), and
// the program often runs elevated: whoever guesses the log's names in advance can plant links at
// them. So every entry is opened by its single name relative to the folder's handle without
// following a link at that name, and is the log's only while it is a plain file: no reparse point,
// a single name, and where the platform follows links whatever it is asked (Wine), a resolved name
// that is the folder's plus its own. Anything else at one of the log's names is left alone: never
// written through, renamed, truncated or deleted. New files are created exclusively, so a link
// at the name (even one that leads nowhere) makes the creation fail instead of being followed.
class CLogFolder
{
public:
    enum class EEntry
    {
        missing,
        plainFile,
        // A link, a folder, a file with further names: not the log's to touch.
        other
    };

    // Opens the folder by path (the folder the settings name). Throws CTavException when it
    // cannot be opened.
    explicit CLogFolder(const std::wstring& path);

    const std::wstring& path() const { return m_path; }
    std::wstring pathOf(const std::wstring& name) const;

    // What the name holds; an entry that cannot even be opened to look at counts as other, and so
    // does a name that cannot be created although nothing opens at it (a link that leads nowhere).
    EEntry inspect(const std::wstring& name) const;
    // The plain file name, opened for reading and writing (others may read and write it), or
    // created when there is no entry of that name; emptied when startNew is set. An invalid holder
    // when the name holds something else; CTavException when the file cannot be opened.
    CUniqueFile openFile(const std::wstring& name, bool startNew) const;
    // A new file name for reading and writing; throws CTavException when any entry has that name
    // or it cannot be made.
    CUniqueFile createFile(const std::wstring& name) const;
    // Throws CTavException unless a new file can be made in the folder (and is removed again).
    void checkWritable() const;
    // Gives the plain file from the new name to, never replacing an entry; when that fails (others
    // hold the file without sharing its deletion), a copy takes the name and the file is removed
    // as far as it can be. Throws CTavException when neither works.
    void moveFile(const std::wstring& from, const std::wstring& to) const;
    // Deletes the plain file name; anything else stays. With sameAs, only when it is still that
    // file (volume and file id). Errors are dropped.
    void tryRemoveFile(const std::wstring& name, const BY_HANDLE_FILE_INFORMATION* sameAs = nullptr) const;
    // True when another program (any writer of a log, which shares no deleting) holds the file
    // name open, or when it cannot be told.
    bool isHeld(const std::wstring& name) const;
    // Creates the file to with everything the open file from holds. Throws CTavException.
    void copyInto(HANDLE from, const std::wstring& to) const;

private:
    // The entry, opened with access when it is a plain file; invalid otherwise (kind says why).
    CUniqueFile openPlain(const std::wstring& name, ACCESS_MASK access, EEntry& kind) const;
    bool isPlainFile(HANDLE entry, const std::wstring& name) const;

    std::wstring m_path;
    CUniqueFile m_folder;
    // The folder's resolved name, where the platform follows links, and the places that could pass
    // for the folder by their resolved names (lookAlikesOf).
    std::wstring m_resolvedName;
    std::vector<std::wstring> m_lookAlikes;
};
