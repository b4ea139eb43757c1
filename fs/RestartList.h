#pragma once

#include "fs/FilePath.h"
#include "win/RegKey.h"
#include "win/RegValue.h"

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The deletions Windows carries out at the next restart, as this program adds to them.
//
// Windows keeps them, with renames, in the Session Manager's value PendingFileRenameOperations
// (REG_MULTI_SZ): pairs of a source and a destination, each string ending in a zero unit, and one
// more zero unit after the last pair; an empty destination is a deletion. The restart carries them
// out in their order. Current Windows writes its own sources as "*1\??\..." and keeps a second
// value, PendingFileRenameOperations2, beside the first.
//
// The program writes the value itself (read, change, write, read back) rather than have
// MoveFileExW(MOVEFILE_DELAY_UNTIL_REBOOT) add each name and check afterwards:
// - What it writes is exactly the list it read, pair for pair, with its own pairs ("\??\" and the
//   path, an empty destination) at the end; every other entry, in whatever form, keeps its bytes.
//   What MoveFileExW makes of a value it did not expect is the implementation's own: Wine's takes
//   one unit off any value, so a list without its last zero unit turns another program's deletion
//   into a rename onto the new name, and a value of 0 bytes loses the new name's first backslash;
//   other types it does not write at all, without a last error. Nor is it said which of the two
//   values it adds to. Checking afterwards would leave such a value changed until it is put back,
//   and changed for good by a run that ends in between.
// - A value that is not such a list (another type, an odd size, no last zero unit, a pair cut
//   short, an empty source, which a reader may take for the list's end) is never written: nothing
//   is added and nothing is mended. No value, and a value of 0 bytes or of the last unit alone,
//   are the empty list.
// - After the write both values are read back. The first must hold the bytes written, possibly
//   followed by whole pairs that another program added after this one; the second must be as it
//   was. Otherwise the write counts as failed, and when the first still holds exactly the bytes
//   written it is put back as it was read; when another program wrote last, its value stays (the
//   pairs of this program then only delete names in its own folder that nothing uses). The whole
//   read, write and check is tried a few times before it counts as failed.
// Runs of this program take turns at the list (CRestartListTurn, held by the caller from the read
// to the check). Other programs do not, and the registry has no compare-and-swap: a program that
// writes between this read and this write would lose its entries, and one that read before this
// write and writes after the check drops these pairs. So the value is read once more just before
// the write (a change since the first read starts over), which narrows the first to the time
// between two calls; the check narrows the second to the other program's own read-to-write time,
// and the deferral looks again when its run ends. Any two writers of the value, MoveFileExW
// included, run the same race.
class CRestartList
{
public:
    using Pair = std::pair<std::wstring, std::wstring>;

    // Reads both values. Throws when they cannot be read, or with ERROR_INVALID_DATA when the first
    // is no list this program can add to.
    static CRestartList read();

    // The position of the last deletion of the name in the list (a pair of the name and an empty
    // destination), or nothing.
    std::optional<std::size_t> lastDeletion(const std::wstring& restartName) const;

    // Writes the list as read, without its deletions of the names in dropped (this program's own)
    // and with deletions of the names in added at its end, then checks the write (above). False
    // when the check fails; throws when a call fails.
    bool tryWrite(const std::vector<std::wstring>& dropped, const std::vector<std::wstring>& added) const;
    // Reads the list and writes it as tryWrite() does, again while the check fails, a few times.
    // Throws as read() does, when a call fails, and with ERROR_BUSY when no write was confirmed.
    static void update(const std::vector<std::wstring>& dropped, const std::vector<std::wstring>& added);

private:
    CRestartList() = default;

    CUniqueRegKey m_key;
    std::optional<RegValue> m_value;
    std::optional<RegValue> m_second;
    std::vector<Pair> m_pairs;
};

// The name the pending operations give a local path: "\??\" and the path's Win32 form.
std::wstring restartName(const CFilePath& path);
