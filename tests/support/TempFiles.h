#pragma once

#include "fs/FilePath.h"

#include <windows.h>
#include <functional>
#include <string>

// folder / name: the two joined as a path.
inline CFilePath operator/(const CFilePath& folder, const std::wstring& name)
{
    return CFilePath::combine(folder, name);
}

namespace test
{
// A fresh folder in the temporary folder, removed with everything in it at the end of the test.
class CTempDir
{
public:
    CTempDir();
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const CFilePath& path() const { return m_path; }
    CFilePath operator/(const std::wstring& name) const { return CFilePath::combine(m_path, name); }

private:
    CFilePath m_path;
};

// Removes a tree without the code under test.
void removeTree(const std::wstring& path);

void writeTextFile(const std::wstring& path, const std::string& content = "x");
std::string readBytes(const std::wstring& path);
void makeFolder(const std::wstring& path);
bool exists(const std::wstring& path);
// Gives Everyone every right on the folder (or file), as a standard user has on %TEMP% (under
// Wine: the Unix mode rwx for others).
void letEveryoneWrite(const std::wstring& folder);
// A distinct name for this test, usable as a file or program name.
std::wstring uniqueName(const std::wstring& stem);

// Polls condition every few milliseconds until it holds (true) or timeoutMs has passed (false).
bool waitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 30000);

// Points TMP and TEMP (and so the temporary folder of the programs this process starts) at
// another folder for the life of the object.
class CTempFolderOverride
{
public:
    explicit CTempFolderOverride(const std::wstring& folder);
    ~CTempFolderOverride();
    CTempFolderOverride(const CTempFolderOverride&) = delete;
    CTempFolderOverride& operator=(const CTempFolderOverride&) = delete;

private:
    std::wstring m_tmp;
    std::wstring m_temp;
};

// A text for assertion messages: ASCII kept, everything else shown as '?'.
std::string narrow(const std::wstring& text);
}  // namespace test
