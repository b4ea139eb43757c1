#pragma once

#include "fs/FilePath.h"
#include "win/UniqueHolder.h"

#include <windows.h>

// Walks the entries of one folder ("." and ".." skipped, hidden and system entries included) in
// the order the file system returns them. A folder that cannot be listed yields no entries and
// no error. The default iterator is the end.
class CDirectoryIterator
{
public:
    CDirectoryIterator() = default;
    CDirectoryIterator(const CFilePath& folder, const std::wstring& pattern);

    void advance();
    // Closes the search; the iterator then equals the end.
    void reset();

    bool atEnd() const { return !m_search.isValid(); }
    bool operator==(const CDirectoryIterator& other) const { return m_search.get() == other.m_search.get(); }

    // Full path of the current entry.
    const CFilePath& current() const { return m_current; }
    // What the search reported of the current entry, so a walk needs no further call to learn it.
    const wchar_t* name() const { return m_data.cFileName; }
    DWORD attributes() const { return m_data.dwFileAttributes; }

private:
    void accept();
    // Moves the search on; its end or an error closes it.
    void step();

    CFilePath m_folder;
    CUniqueFindHandle m_search;
    CFilePath m_current;
    WIN32_FIND_DATAW m_data{};
};
