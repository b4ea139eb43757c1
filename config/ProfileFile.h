#pragma once

#include "fs/RunFolder.h"
#include "win/UniqueHolder.h"

#include <windows.h>

#include <memory>
#include <string>

// A profile (configuration) file read with the platform's profile functions, so that sections,
// keys, values and numbers are found exactly as every other program reads the file.
//
// Those functions take paths of fewer than MAX_PATH characters only: with a longer path they
// behave as if the file were empty. A file whose path is that long (beside an executable deep in
// a folder tree) is therefore read through a copy in a folder of this run (fs/RunFolder.h) in the
// temporary folder: made new, protected when the process runs with the administrators' rights,
// and held while the copy is read so that no one can change, rename or delete the copy between
// its writing and its reading. Both go when the object ends.
class CProfileFile
{
public:
    // True when the file is there, whatever the length of its path.
    static bool exists(const std::wstring& path);

    // Throws CTavException when a copy is needed and cannot be made: then the file cannot be
    // read at all, and the caller must not take it for an empty one.
    explicit CProfileFile(const std::wstring& path);
    ~CProfileFile();
    CProfileFile(const CProfileFile&) = delete;
    CProfileFile& operator=(const CProfileFile&) = delete;

    std::wstring getString(const wchar_t* section, const wchar_t* key, const wchar_t* defaultText) const;
    UINT getInt(const wchar_t* section, const wchar_t* key, INT defaultValue) const;

private:
    // The file the profile functions are given: the file itself or its copy.
    std::wstring m_readPath;
    // For a copy: its folder, and the copy held so that others can only read it.
    std::unique_ptr<CRunFolder> m_copyFolder;
    CUniqueFile m_copy;
};
