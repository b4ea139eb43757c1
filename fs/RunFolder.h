#pragma once

#include "fs/FilePath.h"
#include "win/UniqueHolder.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A folder of this run for files that others must not change between their writing and their use
// (a final deleter's copy, a copy of the settings): made new in a given folder as
// <stem>.<id> (a random name after that when that one is taken, never an existing entry or a link
// planted at the name: UniqueName.h) and held open from its creation on, so that it can be neither renamed nor
// replaced while the run uses it. A process with the Administrators group enabled makes it owned
// by the administrators and open to them and the system only: what runs or is read with those
// rights is what this run wrote and no one else could change. Otherwise it is a folder like any of
// the user's, whose other processes could change its files no more than they could change the run
// itself.
class CRunFolder
{
public:
    // Made in base (the temporary folder, as a rule). Throws CTavException.
    CRunFolder(const CFilePath& base, const std::wstring& stem, std::uint32_t id);
    // Removes the folder as remove() does unless kept.
    ~CRunFolder();
    CRunFolder(const CRunFolder&) = delete;
    CRunFolder& operator=(const CRunFolder&) = delete;

    const CFilePath& path() const { return m_path; }
    // A new handle on the folder only to identify it (it shares everything and keeps no one from
    // anything), inheritable: for a program started from the folder. Throws CTavException.
    CUniqueFile identify() const;

    // Creates the file name in the folder with the given content and returns a handle on it with
    // the given access and flags (those of CreateFileW) through which others can only read it:
    // while the handle is open the file can be neither changed, renamed nor deleted. The file is
    // written through a handle of its own, which a program's loader could not share; the returned
    // handle is opened after it, and the file must then still be the file written, with the
    // content written (CTavException otherwise).
    CUniqueFile addFile(const std::wstring& name, std::string_view content, DWORD access, DWORD flags,
                        bool inheritable);
    // Deletes the file name that addFile made, if it is still there and still that file; never
    // throws.
    void removeFile(const std::wstring& name);
    // Deletes the files that addFile made (callers close their handles first), lets go of the
    // folder and deletes it when it is still this folder and nothing else is in it. Never throws.
    void remove();
    // Lets go of the folder, which stays with what is in it: a deleter started from it removes it.
    void keep();

private:
    CFilePath m_path;
    CUniqueFile m_folder;
    BY_HANDLE_FILE_INFORMATION m_identity{};
    std::vector<std::pair<std::wstring, BY_HANDLE_FILE_INFORMATION>> m_files;
};
