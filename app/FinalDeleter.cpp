#include "app/FinalDeleter.h"

#include "app/DriverLog.h"
#include "fs/FilePath.h"
#include "fs/FolderDeletion.h"
#include "win/ErrorText.h"
#include "win/FileCalls.h"
#include "win/Platform.h"
#include "win/ProcessCalls.h"
#include "win/SystemCalls.h"
#include "win/TavException.h"

#include <windows.h>

#include <shellapi.h>

#include <cstdint>

namespace
{
// 635 bytes. Timer is the script host's clock of the day in seconds; it restarts at midnight,
// hence the correction. The 600-second limit keeps a script host from spinning forever on an
// executable that can never be deleted (read-only, or held open by another process). Some script
// hosts have no working Sleep (it fails and is skipped); the clock still ends the loop there.
constexpr std::string_view kScriptHostText =
    "ON ERROR RESUME NEXT\r\n"
    "SET fso = CreateObject(\"Scripting.FileSystemObject\")\r\n"
    "IF wScript.Arguments.Count = 0 THEN wScript.Quit()\r\n"
    "fileToDelete = Wscript.Arguments(0)\r\n"
    "startTime = Timer\r\n"
    "FOR EACH fileToDelete in Wscript.Arguments \r\n"
    "       DO \r\n"
    "               fso.DeleteFile fileToDelete \r\n"
    "               IF fso.FileExists(fileToDelete) THEN Wscript.Sleep(5) \r\n"
    "               elapsed = Timer - startTime \r\n"
    "               IF elapsed < 0 THEN elapsed = elapsed + 86400 \r\n"
    "               IF elapsed > 600 THEN EXIT DO \r\n"
    "       LOOP WHILE (fso.FileExists(fileToDelete)) \r\n"
    "NEXT \r\n"
    "fso.DeleteFile Wscript.ScriptFullName, True \r\n"
    "SET fso = nothing\r\n";
static_assert(kScriptHostText.size() == kFinalDeleterScriptSize);
}  // namespace

const std::string_view kFinalDeleterScript = kScriptHostText;

// %0 changes with shift, so the script's own path is kept first. Like the script host's version
// it quits without an argument and deletes plainly (no /f) what it is given; only itself by force.
const std::string_view kFallbackDeleterScript =
    "@echo off\r\n"
    "setlocal\r\n"
    "if \"%~1\"==\"\" exit /b\r\n"
    "set \"self=%~f0\"\r\n"
    "set tries=0\r\n"
    ":next\r\n"
    "del \"%~1\" >nul 2>&1\r\n"
    "if not exist \"%~1\" goto shift\r\n"
    "set /a tries+=1\r\n"
    "if %tries% geq 600 goto done\r\n"
    "ping -n 2 127.0.0.1 >nul 2>&1\r\n"
    "goto next\r\n"
    ":shift\r\n"
    "shift\r\n"
    "if not \"%~1\"==\"\" goto next\r\n"
    ":done\r\n"
    "del /f /q \"%self%\" >nul 2>&1\r\n";

namespace
{
#if TIDEWELL_X86
static_assert(sizeof(SHELLEXECUTEINFOW) == 60, "the launch request of a 32-bit process is 60 bytes");
#endif

// <temporary folder>\<executable's name>.<extension>. The extension is replaced in the file name
// alone, so a dot in the temporary folder's path is never taken for one.
CFilePath scriptPath(const CFilePath& executable, const wchar_t* extension)
{
    return CFilePath::combine(WinAPI::getTempPath(), executable.fileName().withExtension(extension));
}

// Replaces whatever is at path (read-only included) by exactly these bytes.
void writeScript(const CFilePath& path, std::string_view text)
{
    deleteFileForced(path);
    const CSharedHandle file = WinAPI::createFile(path);
    WinAPI::writeFile(file.get(), text.data(), static_cast<std::uint32_t>(text.size()));
}

// The script host, through the association of the script's extension. No process handle is kept.
bool launchWithScriptHost(const CFilePath& script, const CFilePath& executable)
{
    const std::wstring parameters = executable.quoted();
    SHELLEXECUTEINFOW request{};
    request.cbSize = sizeof request;
    request.fMask = SEE_MASK_FLAG_NO_UI;
    request.hwnd = nullptr;
    request.lpVerb = L"open";
    request.lpFile = script.c_str();
    request.lpParameters = parameters.c_str();
    request.lpDirectory = nullptr;
    request.nShow = SW_HIDE;
    try
    {
        WinAPI::shellExecuteEx(request);
    }
    catch (const CTavException& error)
    {
        driverLine(kSeverityError, L"Could not start final deleter. ", L"Error message: ",
                   WinAPI::getErrorText(error.errorCode));
        return false;
    }
    driverLine(kSeverityInfo, L"Final deleter started successfully at ", script);
    return true;
}

// The command interpreter is part of every Windows, needs no association and can be started
// directly. It runs hidden in the temporary folder, so it never keeps the folder being deleted
// busy as its current directory.
void launchWithCommandInterpreter(const CFilePath& executable)
{
    try
    {
        const CFilePath script = scriptPath(executable, L"cmd");
        writeScript(script, kFallbackDeleterScript);
        const CFilePath interpreter = CFilePath::combine(WinAPI::getSystemDirectory(), L"cmd.exe");
        // /d skips AutoRun commands; /s /c strips the outer quotes and runs the rest as written.
        const std::wstring commandLine =
            L"\"" + interpreter + L"\" /d /s /c \"\"" + script + L"\" \"" + executable + L"\"\"";
        WinAPI::createProcess(interpreter, commandLine, CREATE_NO_WINDOW, WinAPI::getTempPath());
        driverLine(kSeverityInfo, L"Final deleter started with the command interpreter at ", script);
    }
    catch (const CTavException& error)
    {
        driverLine(kSeverityError, L"Could not start final deleter with the command interpreter. ", error.fullText());
    }
}
}  // namespace

void startFinalDeleter()
{
    const CFilePath executable = WinAPI::getModuleFileName();
    const CFilePath script = scriptPath(executable, L"vbs");
    writeScript(script, kFinalDeleterScript);
    if (launchWithScriptHost(script, executable))
    {
        return;
    }

    // Nothing will run the script now; do not leave it behind (a script that stays is harmless).
    WinAPI::tryDeleteFile(script);
    launchWithCommandInterpreter(executable);
}
