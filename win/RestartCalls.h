#pragma once

#include "win/UniqueHolder.h"

#include <string>

// Where Windows keeps the renames and deletions it carries out at the next restart: the Session
// Manager's pending-operations values, which only a process that may write that key (an elevated
// one) can add to. The list itself is read and written through the registry calls.
namespace WinAPI
{
// The key under HKEY_LOCAL_MACHINE and the values (REG_MULTI_SZ) that hold the pending operations:
// the first, and the second that current Windows keeps beside it.
constexpr const wchar_t* kSessionManagerKey = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr const wchar_t* kPendingOperationsValue = L"PendingFileRenameOperations";
constexpr const wchar_t* kPendingOperations2Value = L"PendingFileRenameOperations2";

// Throws, with the code of the open, unless this process may read and write the key of the
// pending operations (what a deletion at restart needs). Token elevation is not asked: the key's
// security decides.
void checkRestartDeletion();
}  // namespace WinAPI

// This process's turn at the pending operations and at the folder of moved entries, for its
// lifetime. The list is read, extended and written as a whole for each deletion added, so two runs
// adding at the same time would lose each other's names: runs of this program take turns through a
// mutex of the session space. Throws when the turn does not come within a few seconds (or the mutex
// cannot be had).
class CRestartListTurn
{
public:
    CRestartListTurn();
    ~CRestartListTurn();
    CRestartListTurn(const CRestartListTurn&) = delete;
    CRestartListTurn& operator=(const CRestartListTurn&) = delete;

private:
    CUniqueHandle m_mutex;
};
