#include "fs/ProtectedFolders.h"

#include "fs/FilePath.h"
#include "win/FileCalls.h"
#include "win/RegistryCalls.h"
#include "win/SystemCalls.h"
#include "win/TavException.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <utility>
#include <vector>

namespace
{
struct CKnownFolder
{
    const KNOWNFOLDERID* id;
    const wchar_t* name;
    // A folder of the process user that every profile has at the same place below it.
    bool perUser;
};

const CKnownFolder kKnownFolders[] = {
    {&FOLDERID_ProgramFiles, L"ProgramFiles", false},
    {&FOLDERID_ProgramFilesX86, L"ProgramFilesX86", false},
    {&FOLDERID_ProgramFilesCommon, L"ProgramFilesCommon", false},
    {&FOLDERID_ProgramFilesCommonX86, L"ProgramFilesCommonX86", false},
    {&FOLDERID_ProgramData, L"ProgramData", false},
    {&FOLDERID_Windows, L"Windows", false},
    {&FOLDERID_System, L"System", false},
    {&FOLDERID_SystemX86, L"SystemX86", false},
    {&FOLDERID_UserProfiles, L"UserProfiles", false},
    {&FOLDERID_Profile, L"Profile", false},
    {&FOLDERID_Public, L"Public", false},
    {&FOLDERID_PublicDesktop, L"PublicDesktop", false},
    {&FOLDERID_PublicDocuments, L"PublicDocuments", false},
    {&FOLDERID_CommonStartMenu, L"CommonStartMenu", false},
    {&FOLDERID_CommonPrograms, L"CommonPrograms", false},
    {&FOLDERID_RoamingAppData, L"RoamingAppData", true},
    {&FOLDERID_LocalAppData, L"LocalAppData", true},
    {&FOLDERID_LocalAppDataLow, L"LocalAppDataLow", true},
    {&FOLDERID_Desktop, L"Desktop", true},
    {&FOLDERID_Documents, L"Documents", true},
    {&FOLDERID_StartMenu, L"StartMenu", true},
    {&FOLDERID_Programs, L"Programs", true},
};

// The folders of the users' own files. Editions of Windows without one of them (a server, say) do
// not know it, and then there is none to keep.
const CKnownFolder kLibraryFolders[] = {
    {&FOLDERID_Downloads, L"Downloads", true},
    {&FOLDERID_Music, L"Music", true},
    {&FOLDERID_Pictures, L"Pictures", true},
    {&FOLDERID_Videos, L"Videos", true},
    {&FOLDERID_Favorites, L"Favorites", true},
    {&FOLDERID_SavedGames, L"SavedGames", true},
    {&FOLDERID_Links, L"Links", true},
    {&FOLDERID_Contacts, L"Contacts", true},
    {&FOLDERID_PublicDownloads, L"PublicDownloads", false},
    {&FOLDERID_PublicMusic, L"PublicMusic", false},
    {&FOLDERID_PublicPictures, L"PublicPictures", false},
    {&FOLDERID_PublicVideos, L"PublicVideos", false},
};

// The 64-bit view's Program Files and its Common Files. A 32-bit process on 64-bit Windows cannot
// ask for them as known folders; the 64-bit registry view has them (on 32-bit Windows the one
// view has its own).
const std::pair<const KNOWNFOLDERID*, const wchar_t*> kSixtyFourBitFolders[] = {
    {&FOLDERID_ProgramFilesX64, L"ProgramFilesDir"},
    {&FOLDERID_ProgramFilesCommonX64, L"CommonFilesDir"},
};

std::wstring stringValue(HKEY key, const std::wstring& name)
{
    const RegValue value = WinAPI::regQueryValueEx(key, name);
    if (value.type != REG_SZ && value.type != REG_EXPAND_SZ)
    {
        throw CTavException(ERROR_INVALID_DATA, L"The registry value " + name + L" is no text.");
    }
    return value.type == REG_EXPAND_SZ ? WinAPI::expandEnvironmentStrings(value.toString()) : value.toString();
}

std::wstring sixtyFourBitFolder(const KNOWNFOLDERID& id, const wchar_t* valueName)
{
    try
    {
        return WinAPI::getKnownFolderPath(id, valueName);
    }
    catch (const CTavException&)
    {
        const CUniqueRegKey key = WinAPI::regOpenKeyEx(
            HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", KEY_READ | KEY_WOW64_64KEY);
        return stringValue(key.get(), valueName);
    }
}

// The paths of the known folders, each with whether it is one of the process user's that every
// profile has at the same place.
std::vector<std::pair<std::wstring, bool>> knownFolderPaths()
{
    std::vector<std::pair<std::wstring, bool>> paths;
    for (const CKnownFolder& known : kKnownFolders)
    {
        paths.emplace_back(WinAPI::getKnownFolderPath(*known.id, known.name), known.perUser);
    }
    for (const CKnownFolder& known : kLibraryFolders)
    {
        try
        {
            paths.emplace_back(WinAPI::getKnownFolderPath(*known.id, known.name), known.perUser);
        }
        catch (const CTavException&)
        {
            // This system does not know it.
        }
    }
    return paths;
}

// The profile folders of every user the machine knows.
std::vector<std::wstring> profileFolders()
{
    const CUniqueRegKey list = WinAPI::regOpenKeyEx(
        HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", KEY_READ);
    std::vector<std::wstring> folders;
    for (const std::wstring& user : WinAPI::regSubkeyNames(list.get()))
    {
        const CUniqueRegKey profile = WinAPI::regOpenKeyEx(list.get(), user, KEY_READ);
        if (WinAPI::regValueExists(profile.get(), L"ProfileImagePath"))
        {
            folders.push_back(stringValue(profile.get(), L"ProfileImagePath"));
        }
    }
    return folders;
}

// The roots of the local volumes that are ready now.
std::vector<CPlace> volumeRoots()
{
    std::vector<CPlace> roots;
    const std::uint32_t drives = WinAPI::getLogicalDrives();
    for (wchar_t letter = L'A'; letter <= L'Z'; ++letter)
    {
        const std::wstring root = std::wstring(1, letter) + L":\\";
        const UINT type = (drives & (1u << (letter - L'A'))) != 0 ? ::GetDriveTypeW(root.c_str()) : DRIVE_NO_ROOT_DIR;
        // A share's root is one by its spelling; a drive without a volume (no disk in it) has none.
        if (type == DRIVE_NO_ROOT_DIR || type == DRIVE_UNKNOWN || type == DRIVE_REMOTE)
        {
            continue;
        }
        try
        {
            if (const CUniqueFile handle = WinAPI::openToIdentify(root); handle.isValid())
            {
                roots.push_back(CPlace::of(handle.get(), root));
            }
        }
        catch (const CTavException&)
        {
            // Not ready: nothing on it is removed now.
        }
    }
    return roots;
}
}  // namespace

CProtectedFolders CProtectedFolders::ofSystem()
{
    CProtectedFolders folders;
    const auto add = [&folders](const std::wstring& path) {
        folders.m_known.push_back(CFolder{CPlace::ofPath(path), CFilePath(path)});
    };

    folders.m_roots = volumeRoots();

    const CPlace profile = CPlace::ofPath(WinAPI::getKnownFolderPath(FOLDERID_Profile, L"Profile"));
    std::vector<std::wstring> perUser;
    for (const auto& [path, everyProfileHasIt] : knownFolderPaths())
    {
        add(path);
        const CPlace& place = folders.m_known.back().place;
        if (everyProfileHasIt && profile.contains(place) && !(profile == place))
        {
            perUser.push_back(place.name().substr(profile.name().size()));
        }
    }
    for (const auto& [id, valueName] : kSixtyFourBitFolders)
    {
        add(sixtyFourBitFolder(*id, valueName));
    }
    add(WinAPI::getTempPath());

    for (const std::wstring& other : profileFolders())
    {
        // A profile on a volume that is not there holds nothing to be removed now.
        try
        {
            add(other);
            for (const std::wstring& below : perUser)
            {
                add(CFilePath(other) + below);
            }
        }
        catch (const CTavException&)
        {
        }
    }
    return folders;
}

std::optional<std::wstring> CProtectedFolders::reasonToKeep(const CPlace& folder) const
{
    for (const CPlace& root : m_roots)
    {
        if (root == folder)
        {
            return std::wstring(L"it is a volume's root");
        }
    }
    for (const CFolder& known : m_known)
    {
        if (folder.contains(known.place))
        {
            return L"it is or holds the system's folder " + known.shown;
        }
    }
    return std::nullopt;
}
