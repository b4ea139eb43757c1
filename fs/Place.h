#pragma once

#include <windows.h>

#include <string>

// Where an entry lies, as the file system itself names it: the final path of an open handle, with
// the volume's device (its drive where the volume has no device name), long names, links resolved
// and the letter case as stored. Every spelling of
// one place (verbatim and device forms, short names, another letter case, trailing dots and
// blanks that Windows drops, a substituted drive, a link on the way) gives the same place, so
// "the same place" and "inside" are decided here, never by comparing the texts that were given.
class CPlace
{
public:
    // The place of an open entry. Throws CTavException when the system cannot name it.
    static CPlace of(HANDLE entry, const std::wstring& shownPath);
    // The place an absolute path leads to, links followed. A path that is not there lies where its
    // nearest existing folder lies, with the missing names below it. Throws CTavException when not
    // even its root is there, or for any failure other than "not found".
    static CPlace ofPath(const std::wstring& path);

    // True when other is this place or lies inside it (the file system's letter case ignored).
    bool contains(const CPlace& other) const;
    bool operator==(const CPlace& other) const;

    const std::wstring& name() const { return m_name; }

private:
    explicit CPlace(std::wstring name);

    std::wstring m_name;
};

// The path with its folder as the file system spells it, for names that others derive from a path:
// the folder's final path in drive-letter or share form ("C:\Program Files\Acme",
// "\\server\share\dir"), then the last name as given. A path already spelled so comes back as it
// is; so does a path whose folder cannot be read. Never throws.
std::wstring withFolderAsFileSystemSpellsIt(const std::wstring& path);
