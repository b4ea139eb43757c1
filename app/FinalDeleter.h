#pragma once

#include <cstddef>
#include <string_view>

// The self-removal script handed to the script host (VBScript), written byte for byte: 7-bit
// ASCII, 16 lines, each ended by CR LF, 635 bytes. It ignores every error, quits when it has no
// argument, deletes each argument (retrying every 5 ms while the file still exists, for about ten
// minutes in all) and finally deletes itself, read-only or not.
extern const std::string_view kFinalDeleterScript;
constexpr std::size_t kFinalDeleterScriptSize = 635;

// The same for the command interpreter, used when the script host cannot be started: one try a
// second (a loopback ping, the one wait every command interpreter can count on), 600 tries at
// most, then it deletes itself.
extern const std::string_view kFallbackDeleterScript;

// Writes the self-removal script to the temporary folder and hands it to the script host with
// the executable's path, so the executable is deleted once the process has ended. Throws
// CTavException when the script cannot be written; a failed launch is logged, and the command
// interpreter then runs the fallback script instead.
void startFinalDeleter();
