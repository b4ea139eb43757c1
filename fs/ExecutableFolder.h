#pragma once

#include "fs/FilePath.h"
#include "win/UniqueHolder.h"

#include <windows.h>

#include <optional>
#include <string>

// The folder a program's file lies in, held from the start of the program's run so that it can be
// neither renamed nor replaced while the run goes on: a final deleter removes it once the file is
// gone, when nothing else is in it.
class CExecutableFolder
{
public:
    // Opens the folder of file (an absolute path) through its own parent's handle, never through a
    // link at its name, and holds it without delete access (WinAPI::holdFolder), so that it opens
    // while others hold it without sharing its deletion (the installer that made it, say). Then
    // the file, which the open handle fileIdentity identifies, must have its name in that very
    // folder (same volume and file id). Throws CTavException when it is no plain folder, not the
    // file's, or cannot be judged.
    CExecutableFolder(const CFilePath& file, HANDLE fileIdentity);

    const CFilePath& path() const { return m_path; }
    // Why the folder must stay (a volume's root, a protected folder: fs/ProtectedFolders.h, or the
    // Windows folder's Temp), or nothing when it may go.
    const std::optional<std::wstring>& reasonToKeep() const { return m_reasonToKeep; }
    // A new handle on the folder only to identify it (it shares everything and keeps no one from
    // anything), inheritable: for the deleter, which opens it again with delete access once the run
    // has ended and this hold is gone. Throws CTavException.
    CUniqueFile identify() const;

private:
    CFilePath m_path;
    CUniqueFile m_held;
    BY_HANDLE_FILE_INFORMATION m_identity{};
    std::optional<std::wstring> m_reasonToKeep;
};
