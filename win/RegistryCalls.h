#pragma once

#include "win/RegKey.h"
#include "win/RegValue.h"

#include <windows.h>

#include <string>

// Read-only registry access in the style of the WinAPI layer: failed opens and reads throw
// CTavException naming the key or the value; the existence tests never throw. Keys are opened
// with KEY_READ in the process's own registry view.
namespace WinAPI
{
// True when the subkey can be opened for reading.
bool regKeyExists(HKEY parent, const std::wstring& subkey);
// Throws "WinAPI::regOpenKeyEx() failed for " + subkey with the code of the open.
CSharedRegKey regOpenKeyEx(HKEY parent, const std::wstring& subkey);
// True when a value of that name exists in the key.
bool regValueExists(HKEY key, const std::wstring& name);
// Reads a value of any type into a buffer that starts at 128 bytes and doubles until the data
// fits. Throws "WinAPI::regQueryValueEx failed for " + name (also for a missing value, code 2);
// the key stays usable.
RegValue regQueryValueEx(HKEY key, const std::wstring& name);
}  // namespace WinAPI
