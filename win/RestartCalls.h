#pragma once

#include "win/SharedHolder.h"

#include <string>

// Thin wrappers of the calls that have Windows delete an entry at the next restart. Windows keeps
// these deletions in the Session Manager's pending-operations value, which only a process that may
// write that key (an elevated one) can add to.
namespace WinAPI
{
// The key under HKEY_LOCAL_MACHINE and the value (REG_MULTI_SZ) that hold the pending operations.
constexpr const wchar_t* kSessionManagerKey = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr const wchar_t* kPendingOperationsValue = L"PendingFileRenameOperations";

// Throws, with the code of the open, unless this process may read and write the key of the
// pending operations (what a deletion at restart needs). Token elevation is not asked: the key's
// security decides.
void checkRestartDeletion();
// Adds the entry to the deletions of the next restart. The entry need not exist yet. A halt point
// (win/CrashHalt.h).
void deleteAtRestart(const std::wstring& path);
}  // namespace WinAPI

// This process's turn at the deletions of the next restart, for its lifetime. Windows reads,
// extends and writes the whole value for each deletion added, so two runs adding at the same time
// can lose each other's names: runs of this program take turns through a mutex of the session
// space. Throws when the turn does not come within a few seconds (or the mutex cannot be had).
class CRestartListTurn
{
public:
    CRestartListTurn();
    ~CRestartListTurn();
    CRestartListTurn(const CRestartListTurn&) = delete;
    CRestartListTurn& operator=(const CRestartListTurn&) = delete;

private:
    CSharedHandle m_mutex;
};
