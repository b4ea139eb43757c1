// The script host's deleter. The script is a constant: everything that varies reaches it as an
// argument of the host's command line, which no one expands or interprets, and which carries any
// character of a path (a script host may read its script in the ANSI code page only).
//
// The host is started by its full path, never through the association of ".vbs": a changed
// association can neither swallow the script nor run something else. Which engine runs a ".vbs"
// file still comes from that association; without one the host ends at once, and the fallback
// takes over.
//
// The host runs with this process's rights, so no one else may change the script between its
// writing and the host's reading it, and the script must still delete its own file as its answer.
// The script is written into a new folder of the run (CRunFolder), which the run holds open
// so that it can be neither renamed nor replaced; elevated, only the system and the
// administrators may change anything in it, and no one else ever could write the script. On top
// of that the run holds the script itself (others may only read it) from its writing until the
// host's process exists, started suspended, and lets go just before the host runs: a script host
// may open its script without sharing it at all (Wine's does), so no handle that reads, writes or
// deletes it can stay open while the host reads it, and the script could not delete itself while
// one did.

#include "app/ScriptDeleter.h"

#include "fs/RunFolder.h"
#include "app/DeleterJob.h"
#include "app/DeleterProcess.h"
#include "app/DriverLog.h"
#include "win/ErrorText.h"
#include "win/RegistryCalls.h"
#include "win/SystemCalls.h"
#include "win/TavException.h"

#include <optional>
#include <string_view>

namespace
{
// Arguments: the file, the id of the process to wait for, the seconds to keep trying after its
// end, and the program of the pause where the host has no Sleep (a loopback ping by its full path,
// or nothing). The process counts as running while one with that id and with the file's name
// runs, so a reused id ends the wait. The script deletes its own file once it knows that it can
// watch the process: that is its answer to Tidewell. Exit codes 1 to 4: wrong arguments, no
// file system or WMI object, process not seen, own file not deleted.
constexpr std::string_view kScript =
    "Option Explicit\r\n"
    "On Error Resume Next\r\n"
    "Dim fso, shell, wmi, target, processId, processName, retrySeconds, pauseProgram, ended\r\n"
    "If WScript.Arguments.Count < 4 Then WScript.Quit 1\r\n"
    "target = WScript.Arguments(0)\r\n"
    "processId = CLng(WScript.Arguments(1))\r\n"
    "retrySeconds = CLng(WScript.Arguments(2))\r\n"
    "pauseProgram = WScript.Arguments(3)\r\n"
    "If Err.Number <> 0 Then WScript.Quit 1\r\n"
    "Set fso = CreateObject(\"Scripting.FileSystemObject\")\r\n"
    "Set shell = CreateObject(\"WScript.Shell\")\r\n"
    "Set wmi = GetObject(\"winmgmts:{impersonationLevel=impersonate}!\\\\.\\root\\cimv2\")\r\n"
    "processName = fso.GetFileName(target)\r\n"
    "If Err.Number <> 0 Then WScript.Quit 2\r\n"
    "If ProcessState() <> 1 Then WScript.Quit 3\r\n"
    "fso.DeleteFile WScript.ScriptFullName, True\r\n"
    "If fso.FileExists(WScript.ScriptFullName) Then WScript.Quit 4\r\n"
    "Do While ProcessState() = 1\r\n"
    "    Pause\r\n"
    "Loop\r\n"
    "ended = Timer\r\n"
    "Do\r\n"
    "    Err.Clear\r\n"
    "    fso.DeleteFile target, True\r\n"
    "    If Not fso.FileExists(target) Then Exit Do\r\n"
    "    If SecondsSince(ended) > retrySeconds Then Exit Do\r\n"
    "    Pause\r\n"
    "Loop\r\n"
    "\r\n"
    "' 1 while the process runs, 0 when it is gone, -1 when WMI cannot tell.\r\n"
    "Function ProcessState()\r\n"
    "    On Error Resume Next\r\n"
    "    Dim found, process, state\r\n"
    "    state = 0\r\n"
    "    Set found = wmi.ExecQuery(\"SELECT Name FROM Win32_Process WHERE ProcessId = \" & processId)\r\n"
    "    For Each process In found\r\n"
    "        If StrComp(process.Name, processName, vbTextCompare) = 0 Then state = 1\r\n"
    "    Next\r\n"
    "    If Err.Number <> 0 Then state = -1\r\n"
    "    ProcessState = state\r\n"
    "End Function\r\n"
    "\r\n"
    "Sub Pause()\r\n"
    "    On Error Resume Next\r\n"
    "    WScript.Sleep 500\r\n"
    "    If Err.Number = 0 Or pauseProgram = \"\" Then Exit Sub\r\n"
    "    shell.Run \"\"\"\" & pauseProgram & \"\"\" -n 2 127.0.0.1\", 0, True\r\n"
    "End Sub\r\n"
    "\r\n"
    "' Timer restarts at midnight.\r\n"
    "Function SecondsSince(start)\r\n"
    "    SecondsSince = Timer - start\r\n"
    "    If SecondsSince < 0 Then SecondsSince = SecondsSince + 86400\r\n"
    "End Function\r\n";

// The host's file functions stop short of the classic path limit (Wine's at 258 characters).
constexpr std::size_t kLongestPath = 258;
constexpr DWORD kAnswerMs = 30000;
constexpr DWORD kPollMs = 50;

const wchar_t* const kSettingsKey = L"Software\\Microsoft\\Windows Script Host\\Settings";

void cannotStart(const std::wstring& reason)
{
    driverLine(kSeverityError, L"Could not start final deleter. ", reason);
}

// "Enabled" set to 0 in either hive switches script hosting off; the host would only complain.
bool scriptHostingDisabled()
{
    for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
    {
        if (!WinAPI::regKeyExists(hive, kSettingsKey))
        {
            continue;
        }
        try
        {
            const CSharedRegKey key = WinAPI::regOpenKeyEx(hive, kSettingsKey);
            if (!WinAPI::regValueExists(key.get(), L"Enabled"))
            {
                continue;
            }
            const RegValue enabled = WinAPI::regQueryValueEx(key.get(), L"Enabled");
            if (enabled.type == REG_DWORD ? enabled.toDWORD() == 0 : enabled.toString() == L"0")
            {
                return true;
            }
        }
        catch (const CTavException&)
        {
            // A setting that cannot be read switches nothing off; the host then decides.
        }
    }
    return false;
}

// The command line of the host: batch mode, no banner, the script and its four arguments.
std::wstring hostCommandLine(const CFilePath& host, const CFilePath& script, const CDeleterJob& job,
                             const CFilePath& systemFolder)
{
    // The script starts the pause program with WScript.Shell's Run, which expands '%' references.
    const CFilePath ping = CFilePath::combine(systemFolder, L"ping.exe");
    const std::wstring pause = ping.find(L'%') == std::wstring::npos ? std::wstring(ping) : std::wstring();
    return L"\"" + host + L"\" //B //Nologo \"" + script + L"\" \"" + job.executable + L"\" " +
           std::to_wstring(job.processId) + L" " + std::to_wstring(job.retrySeconds) + L" \"" + pause + L"\"";
}

enum class Answer
{
    Running,
    HostEnded,
    NoAnswer
};

// Waits until the script has deleted its own file, or the host has ended without doing so, or
// the time is up.
Answer waitForAnswer(const CSharedHandle& host, const CFilePath& script)
{
    const ULONGLONG deadline = ::GetTickCount64() + kAnswerMs;
    for (;;)
    {
        const bool ended = ::WaitForSingleObject(host.get(), kPollMs) == WAIT_OBJECT_0;
        if (!script.exists())
        {
            return Answer::Running;
        }
        if (ended)
        {
            return Answer::HostEnded;
        }
        if (::GetTickCount64() >= deadline)
        {
            return Answer::NoAnswer;
        }
    }
}

// Starts the host on the script and waits for its answer; false (logged) when there is none. The
// hold on the script ends when the host's process exists.
bool launch(const CDeleterJob& job, const CFilePath& script, CSharedHandle& hold, const CFilePath& systemFolder)
{
    const CFilePath host = CFilePath::combine(systemFolder, L"cscript.exe");
    WinAPI::StartedProcess started;
    try
    {
        started = startDeleterProcess(host, hostCommandLine(host, script, job, systemFolder),
                                      CREATE_NO_WINDOW | CREATE_SUSPENDED, systemFolder);
        hold.reset();
        WinAPI::resumeThread(started.thread.get());
    }
    catch (const CTavException& error)
    {
        if (started.process.isValid())
        {
            ::TerminateProcess(started.process.get(), 1);
        }
        cannotStart(L"Error message: " + WinAPI::getErrorText(error.errorCode));
        return false;
    }
    const CSharedHandle& process = started.process;

    switch (waitForAnswer(process, script))
    {
    case Answer::Running:
        driverLine(kSeverityInfo, L"Final deleter started successfully at ", script);
        return true;
    case Answer::HostEnded:
    {
        DWORD code = 0;
        ::GetExitCodeProcess(process.get(), &code);
        cannotStart(L"The script host ended with exit code " + std::to_wstring(code) + L" without running the script.");
        return false;
    }
    case Answer::NoAnswer:
        break;
    }
    ::TerminateProcess(process.get(), 1);
    ::WaitForSingleObject(process.get(), kAnswerMs);
    cannotStart(L"The script host did not run the script within " + std::to_wstring(kAnswerMs / 1000) + L" seconds.");
    return false;
}
}  // namespace

bool startScriptDeleter(const CDeleterJob& job)
{
    if (job.executable.size() > kLongestPath)
    {
        cannotStart(L"The path of the executable is too long for the script host.");
        return false;
    }
    if (scriptHostingDisabled())
    {
        cannotStart(L"Script hosting is disabled.");
        return false;
    }

    const std::wstring stem = job.executable.fileName().withoutExtension();
    std::optional<CRunFolder> folder;
    CSharedHandle hold;
    CFilePath systemFolder;
    try
    {
        systemFolder = WinAPI::getSystemDirectory();
        folder.emplace(job.folder, stem, job.processId);
        hold = folder->addFile(stem + L".vbs", kScript, GENERIC_READ, 0, false);
    }
    catch (const CTavException& error)
    {
        driverLine(kSeverityError, L"Could not prepare final deleter. ", error.fullText());
        return false;
    }
    const bool running = launch(job, CFilePath::combine(folder->path(), stem + L".vbs"), hold, systemFolder);
    // The running script has deleted its file; otherwise the script goes here, and the folder with it.
    hold.reset();
    folder->remove();
    return running;
}
