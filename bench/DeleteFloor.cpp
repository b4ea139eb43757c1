// The least work a deletion of a known layout can do under the same platform: DeleteFileW for
// every file and RemoveDirectoryW for every folder, by full path, no listing and no attribute
// reads. bench/delete_tree.sh builds the same layout for it and for Tidewell and compares.
//
//   delete_floor ROOT FOLDERS FILES [THREADS]
//     FOLDERS 0: ROOT\fileI.dat for I = 1..FILES
//     otherwise: ROOT\d(F mod 20)\folderF\fileI.dat for F = 1..FOLDERS, I = 1..FILES
//     THREADS (default 1): the folders, or the files of the one folder, are dealt out to this many
//     threads, each deleting its share as above; the groups and the root go once all are done.
// Exit value: the number of calls that failed.

#include <windows.h>

#include <atomic>
#include <cwchar>
#include <string>
#include <vector>

namespace
{
constexpr int kGroups = 20;
std::atomic<int> g_failures{0};

void deleteFiles(const std::wstring& folder, int first, int last)
{
    for (int i = first; i <= last; ++i)
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

// What one thread deletes: every THREADS-th folder from its own, or its slice of the one folder.
struct Share
{
    std::wstring root;
    int folders;
    int files;
    int index;
    int threads;
};

DWORD WINAPI deleteShare(void* parameter)
{
    const Share& share = *static_cast<const Share*>(parameter);
    if (share.folders == 0)
    {
        deleteFiles(share.root, share.files * share.index / share.threads + 1,
                    share.files * (share.index + 1) / share.threads);
    }
    for (int f = share.index + 1; f <= share.folders; f += share.threads)
    {
        const std::wstring folder =
            share.root + L"\\d" + std::to_wstring(f % kGroups) + L"\\folder" + std::to_wstring(f);
        deleteFiles(folder, 1, share.files);
        removeFolder(folder);
    }
    return 0;
}
}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 4 && argc != 5)
    {
        return -1;
    }
    const std::wstring root = argv[1];
    const int folders = static_cast<int>(std::wcstol(argv[2], nullptr, 10));
    const int files = static_cast<int>(std::wcstol(argv[3], nullptr, 10));
    const int threads = argc == 5 ? static_cast<int>(std::wcstol(argv[4], nullptr, 10)) : 1;
    if (threads < 1 || threads > 64)
    {
        return -1;
    }
    std::vector<Share> shares;
    for (int t = 0; t < threads; ++t)
    {
        shares.push_back(Share{root, folders, files, t, threads});
    }
    if (threads == 1)
    {
        deleteShare(&shares[0]);
    }
    else
    {
        std::vector<HANDLE> running;
        for (Share& share : shares)
        {
            const HANDLE thread = ::CreateThread(nullptr, 0, deleteShare, &share, 0, nullptr);
            if (thread == nullptr)
            {
                return -1;
            }
            running.push_back(thread);
        }
        ::WaitForMultipleObjects(static_cast<DWORD>(running.size()), running.data(), TRUE, INFINITE);
        for (const HANDLE thread : running)
        {
            ::CloseHandle(thread);
        }
    }
    for (int g = 0; g < kGroups && folders >= kGroups; ++g)
    {
        removeFolder(root + L"\\d" + std::to_wstring(g));
    }
    removeFolder(root);
    return g_failures;
}
