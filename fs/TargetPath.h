#pragma once

#include "fs/FilePath.h"

#include <string>

// The folder (or file) a caller names to be deleted, taken strictly: only spellings that name a
// file system entry, and never a relative path in disguise.
//
// Taken: drive paths ("C:\Apps\Acme") and UNC paths ("\\server\share\dir"), their verbatim forms
// ("\\?\C:\...", "\\?\UNC\server\share\...", taken as they stand: "\\?\C:\x\dir." is "dir."), the
// device form of a drive path ("\\.\C:\..."), "\??\" as another spelling of "\\?\" before a drive
// or "UNC\", and relative paths (resolved once against the current directory). Refused: every other
// object-manager or device name ("\??\GLOBALROOT\...", "\\?\Volume{...}\...", "\\.\PhysicalDrive0",
// pipes, a bare object name, a reserved device name such as "CON"), a name that no Windows entry can
// have (a character among < > : " | ? * or below U+0020, more than 255 characters, a "." or ".."
// part in a verbatim path), and a last part made only of dots and blanks, which names the folder
// itself, its parent or nothing.
struct CTargetPath
{
    // The absolute path; empty for an empty text.
    CFilePath path;
    // Why the text names no entry of its own; null when it does.
    const wchar_t* refusal = nullptr;
};

CTargetPath parseTargetPath(const std::wstring& text);
