#pragma once

#include "fs/FilePath.h"
#include "support/LogReading.h"

#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

namespace test
{
// The folder of the test programs, which also holds Tidewell.exe and tw_child.exe.
CFilePath buildFolder();
CFilePath tidewellExe();
CFilePath childExe();
// The crash program of the tests (tw_crash.exe).
CFilePath crashExe();
// The log writer of the tests (tw_logwriter.exe).
CFilePath logWriterExe();
// The run with /DeleteSelf of the tests (tw_selfdelete.exe).
CFilePath selfDeleteExe();

// A copy of Tidewell.exe named <name>.exe in folder (the log file is named after it).
CFilePath copyTidewell(const std::wstring& folder, const std::wstring& name);
// A copy of program named <name>.exe in folder.
CFilePath copyProgram(const CFilePath& program, const std::wstring& folder, const std::wstring& name);

// Starts a program with the command line "exe" args and, unless wait is false, waits for it.
struct CProcess
{
    PROCESS_INFORMATION info{};
    ~CProcess();
    // Waits (at most timeoutMs) and returns the exit code; 0xDEADBEEF on timeout.
    std::uint32_t wait(DWORD timeoutMs = 60000);
};
void start(CProcess& process, const std::wstring& exe, const std::wstring& arguments,
           const std::wstring& currentDirectory = L"", DWORD creationFlags = 0);
std::uint32_t runProgram(const std::wstring& exe, const std::wstring& arguments, DWORD timeoutMs = 60000);

// A named event to hand to tw_child.
class CEvent
{
public:
    explicit CEvent(const std::wstring& name);
    ~CEvent();
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;
    const std::wstring& name() const { return m_name; }
    bool wait(DWORD timeoutMs = 20000) const;
    void set() const;

private:
    std::wstring m_name;
    HANDLE m_handle;
};

// tw_child holding a file ("hold", "holdshared", "load" for a library), a mutex ("mutex") or an event ("event") of
// the given name, from the constructor (which waits until it holds it) until release() or the end
// of the scope, so a failed assertion never leaves a child holding on. program is tw_child or a
// copy of it (which then is a running program's file).
class CChildHolder
{
public:
    CChildHolder(const std::wstring& command, const std::wstring& target, const CFilePath& program = childExe());
    ~CChildHolder() { release(); }
    CChildHolder(const CChildHolder&) = delete;
    CChildHolder& operator=(const CChildHolder&) = delete;

    bool holds() const { return m_holds; }
    // The child has not ended (it holds its object until released).
    bool running() const;
    std::uint32_t processId() const { return m_child.info.dwProcessId; }
    // Lets go and waits for the child to end.
    void release();

private:
    CEvent m_ready;
    CEvent m_release;
    CProcess m_child;
    bool m_holds = false;
};

// The Unix path of a Windows path, from Wine's own mapping.
std::wstring unixPath(const std::wstring& path);
// Starts a Unix program (Wine splits the command line as Windows does) and returns at once: Wine
// runs it detached from any handle, so the caller waits for what it makes.
void startUnixProgram(const std::wstring& commandLine);

// Creates a Unix symbolic link at link that points at target (Windows calls cannot create one
// that Wine's file system shows; target need not exist) and waits until it is there.
void makeUnixLink(const std::wstring& link, const std::wstring& target);
// Removes a Unix symbolic link itself (under Wine a Windows delete would remove its target) and
// waits until it is gone.
void removeUnixLink(const std::wstring& link);

// Runs a copy of Tidewell named <name>.exe from folder with the given arguments, reads its log
// and deletes it.
CRunResult runTidewell(const std::wstring& folder, const std::wstring& name, const std::wstring& arguments,
                       DWORD timeoutMs = 60000);

// One of several runs of Tidewell at once.
struct CParallelRun
{
    std::wstring arguments;
    std::wstring currentDirectory;
    CRunResult result;
};
// Starts every run at once, each a copy of the program in folder with its own log, waits for all
// and reads their logs (and deletes them).
void runTogether(const std::wstring& folder, std::vector<CParallelRun>& runs);
}  // namespace test
