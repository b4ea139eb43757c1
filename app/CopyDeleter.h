#pragma once

#include <optional>
#include <string>

struct CDeleterJob;

namespace App
{
// Copies the executable into a new private folder of the temporary folder (CRunFolder) and
// starts the copy in its deleter mode. The copy is opened to be deleted when its last handle
// closes, and so that others can only read it; that handle goes to the copy: the copy's file
// cannot be changed while it runs, vanishes once it has ended, and at once if it cannot start.
// True when the copy runs; a failure is logged.
bool startCopyDeleter(const CDeleterJob& job);

// The deleter mode of such a copy, when the command line asks for it (otherwise nothing): waits
// without limit for the process that started it, deletes the file whose handle it inherited (the
// executable as the run identified it), trying for the given seconds, then the executable's folder
// when it was handed down and nothing else is in it, then moves its own file out of its private
// folder (beside it), removes the empty folder and lets its own file go.
// Returns the exit code: 0 when the file is gone, 1 when it stayed, -1 when the command line does
// not come from startCopyDeleter of the process that started this one (the handles it names are
// not what that passes down) or the wait failed: nothing is deleted, renamed or removed then.
std::optional<int> runCopyDeleter(const std::wstring& commandLine);
}  // namespace App
