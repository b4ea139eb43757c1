// The least work a deletion of a known layout can do under the same platform: DeleteFileW for
// every file and RemoveDirectoryW for every folder, by full path, no listing and no attribute
// reads. bench/delete_tree.sh builds the same layout for it and for Tidewell and compares.
//
//   delete_floor ROOT FOLDERS FILES
//     FOLDERS 0: ROOT\fileI.dat for I = 1..FILES
//     otherwise: ROOT\d(F mod 20)\folderF\fileI.dat for F = 1..FOLDERS, I = 1..FILES
// Exit value: the number of calls that failed.

#include <windows.h>

#include <cwchar>
#include <string>

namespace
{
int g_failures = 0;

void deleteFiles(const std::wstring& folder, int files)
{
    for (int i = 1; i <= files; ++i)
    {
        const std::wstring file = folder + L"\\file" + std::to_wstring(i) + L".dat";
        if (!::DeleteFileW(file.c_str()))
        {
            ++g_failures;
        }
    }
}

void removeFolder(const std::wstring& folder)
{
    if (!::RemoveDirectoryW(folder.c_str()))
    {
        ++g_failures;
    }
}
}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 4)
    {
        return -1;
    }
    const std::wstring root = argv[1];
    const int folders = static_cast<int>(std::wcstol(argv[2], nullptr, 10));
    const int files = static_cast<int>(std::wcstol(argv[3], nullptr, 10));
    constexpr int kGroups = 20;
    if (folders == 0)
    {
        deleteFiles(root, files);
    }
    for (int f = 1; f <= folders; ++f)
    {
        const std::wstring folder = root + L"\\d" + std::to_wstring(f % kGroups) + L"\\folder" + std::to_wstring(f);
        deleteFiles(folder, files);
        removeFolder(folder);
    }
    for (int g = 0; g < kGroups && folders >= kGroups; ++g)
    {
        removeFolder(root + L"\\d" + std::to_wstring(g));
    }
    removeFolder(root);
    return g_failures;
}
