#pragma once

#include "fs/FilePath.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// folder / name: the two joined as a path.
inline CFilePath operator/(const CFilePath& folder, const std::wstring& name)
{
    return CFilePath::combine(folder, name);
}

namespace test
{
// A fresh folder in the temporary folder, removed with everything in it at the end of the test.
class CTempDir
{
public:
    CTempDir();
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const CFilePath& path() const { return m_path; }
    CFilePath operator/(const std::wstring& name) const { return CFilePath::combine(m_path, name); }

private:
    CFilePath m_path;
};

// Removes a tree without the code under test.
void removeTree(const std::wstring& path);

void writeTextFile(const std::wstring& path, const std::string& content = "x");
std::string readBytes(const std::wstring& path);
void makeFolder(const std::wstring& path);
bool exists(const std::wstring& path);
// A distinct name for this test, usable as a file or program name.
std::wstring uniqueName(const std::wstring& stem);

// Polls condition every few milliseconds until it holds (true) or timeoutMs has passed (false).
bool waitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 30000);

// The folder of the test programs, which also holds Tidewell.exe and tw_child.exe.
CFilePath buildFolder();
CFilePath tidewellExe();
CFilePath childExe();
// The crash program of the tests (tw_crash.exe).
CFilePath crashExe();

// A copy of Tidewell.exe named <name>.exe in folder (the log file is named after it).
CFilePath copyTidewell(const std::wstring& folder, const std::wstring& name);
// A copy of program named <name>.exe in folder.
CFilePath copyProgram(const CFilePath& program, const std::wstring& folder, const std::wstring& name);
// Where the log of an executable named <name>.exe goes with the default settings.
CFilePath defaultLogPath(const std::wstring& name);

// The lines of a UTF-16 log file (byte-order mark dropped, split at CR LF).
std::vector<std::wstring> readLogLines(const std::wstring& path);
// True for a line in the line format ("hh:mm:ss ...").
bool isLogLine(const std::wstring& line);
// The text of a log line after its 25 columns of time, tag, level and severity.
std::wstring lineText(const std::wstring& line);
// The severity column of a log line.
wchar_t lineSeverity(const std::wstring& line);

// Starts a program with the command line "exe" args and, unless wait is false, waits for it.
struct CProcess
{
    PROCESS_INFORMATION info{};
    ~CProcess();
    // Waits (at most timeoutMs) and returns the exit code; 0xDEADBEEF on timeout.
    std::uint32_t wait(DWORD timeoutMs = 60000);
};
void start(CProcess& process, const std::wstring& exe, const std::wstring& arguments,
           const std::wstring& currentDirectory = L"");
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

// tw_child holding a file ("hold", "holdshared"), a mutex ("mutex") or an event ("event") of
// the given name, from the constructor (which waits until it holds it) until release() or the end
// of the scope, so a failed assertion never leaves a child holding on.
class CChildHolder
{
public:
    CChildHolder(const std::wstring& command, const std::wstring& target);
    ~CChildHolder() { release(); }
    CChildHolder(const CChildHolder&) = delete;
    CChildHolder& operator=(const CChildHolder&) = delete;

    bool holds() const { return m_holds; }
    // Lets go and waits for the child to end.
    void release();

private:
    CEvent m_ready;
    CEvent m_release;
    CProcess m_child;
    bool m_holds = false;
};

// A log read back by a test: the lines after the header (the byte-order mark dropped).
struct CRunResult
{
    std::uint32_t exitCode = 0;
    std::vector<std::wstring> lines;
    // The lines in the line format (time, tag, level, severity, text) and their continuation
    // lines; the header block left out.
    std::vector<std::wstring> eventLines() const;
    // The texts of those lines (after the 25 prefix columns).
    std::vector<std::wstring> texts() const;
};

// A registry key of this test under a hive, made of uniquePath() and optional subkeys: created at
// once; at the end of the test the key of uniquePath() is removed with everything below it. Two
// keys made with the same path under HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE stand for one key
// path seen in both hives.
class CTestRegKey
{
public:
    CTestRegKey(HKEY hive, const std::wstring& path);
    ~CTestRegKey();
    CTestRegKey(const CTestRegKey&) = delete;
    CTestRegKey& operator=(const CTestRegKey&) = delete;

    // A unique path below HKEY_*\SOFTWARE for one test.
    static std::wstring uniquePath();

    const std::wstring& path() const { return m_path; }
    HKEY key() const { return m_key; }
    void setValue(const std::wstring& name, DWORD type, const void* data, std::size_t size) const;
    void setDword(const std::wstring& name, DWORD value) const;
    // The text with its terminator.
    void setString(const std::wstring& name, const std::wstring& text, DWORD type = REG_SZ) const;

private:
    HKEY m_hive;
    std::wstring m_path;
    HKEY m_key = nullptr;
};

// Points TMP and TEMP (and so the temporary folder of the programs this process starts) at
// another folder for the life of the object.
class CTempFolderOverride
{
public:
    explicit CTempFolderOverride(const std::wstring& folder);
    ~CTempFolderOverride();
    CTempFolderOverride(const CTempFolderOverride&) = delete;
    CTempFolderOverride& operator=(const CTempFolderOverride&) = delete;

private:
    std::wstring m_tmp;
    std::wstring m_temp;
};

// A text for assertion messages: ASCII kept, everything else shown as '?'.
std::string narrow(const std::wstring& text);

// The position of the first text equal to wanted; texts.size() when there is none.
std::size_t indexOf(const std::vector<std::wstring>& texts, const std::wstring& wanted);

// Runs a copy of Tidewell named <name>.exe from folder with the given arguments, reads its log
// and deletes it.
CRunResult runTidewell(const std::wstring& folder, const std::wstring& name, const std::wstring& arguments,
                       DWORD timeoutMs = 60000);
}  // namespace test
