#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// The name of a structured exception: the short name of a well-known code (ACCESS_VIOLATION,
// STACK_OVERFLOW, ...), otherwise the message text that ntdll.dll holds for the code, which may
// span several lines; empty when there is none.
std::wstring getExceptionName(std::uint32_t code);

// The message text of a module's message table for the code (up to 511 units, line breaks
// included); empty when the module has none. Every lookup starts from an empty buffer, so a code
// without text never shows the text of an earlier lookup.
std::wstring getMessageText(HMODULE module, std::uint32_t code);
