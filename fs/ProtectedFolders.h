#pragma once

#include "fs/Place.h"

#include <optional>
#include <string>
#include <vector>

// The folders that a removal of empty parents never takes, asked from the system itself, never
// taken from a list of names: the root of every local volume, and the system's known folders with
// every folder above them. The known folders are Program Files in both views with their Common
// Files, ProgramData, the Windows folder and the system folders, the users' root, every user's
// profile (the machine's profile list), the Public folders, the process user's AppData (Roaming,
// Local, LocalLow), Desktop, Documents, Start Menu and Programs (and the folders at the same place
// in every other profile), the common Start Menu and Programs, and the temporary folder. All are
// compared as places, so no spelling of a folder (short names, letter case, verbatim forms, a
// substituted drive, a link on the way) passes for another.
class CProtectedFolders
{
public:
    // Asks the system. Throws CTavException when a known folder cannot be asked: then no folder can
    // be judged.
    static CProtectedFolders ofSystem();

    // Why the folder must stay ("it is a volume's root", "it is or holds the system's folder
    // C:\Program Files"); nothing when it may go.
    std::optional<std::wstring> reasonToKeep(const CPlace& folder) const;

private:
    struct CFolder
    {
        CPlace place;
        std::wstring shown;
    };

    std::vector<CPlace> m_roots;
    std::vector<CFolder> m_known;
};
