#pragma once

#include "win/RegKey.h"
#include "win/RegValue.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Registry access in the style of the WinAPI layer: failed opens, reads and writes throw
// CTavException naming the key or the value; the existence tests never throw. Keys are opened
// in the process's own registry view, with KEY_READ unless the caller asks for more.
namespace WinAPI
{
// True when the subkey can be opened for reading.
bool regKeyExists(HKEY parent, const std::wstring& subkey);
// Throws "WinAPI::regOpenKeyEx() failed for " + subkey with the code of the open.
CUniqueRegKey regOpenKeyEx(HKEY parent, const std::wstring& subkey, REGSAM access = KEY_READ);
// True when a value of that name exists in the key.
bool regValueExists(HKEY key, const std::wstring& name);
// Reads a value of any type into a buffer that starts at 128 bytes and doubles until the data
// fits. Throws "WinAPI::regQueryValueEx failed for " + name (also for a missing value, code 2);
// the key stays usable.
RegValue regQueryValueEx(HKEY key, const std::wstring& name);
// The same read, but nothing when the key has no value of that name (the only failure that means
// missing).
std::optional<RegValue> regQueryValueIfPresent(HKEY key, const std::wstring& name);
// Sets the value to exactly these bytes of this type. Throws "WinAPI::regSetValueEx failed for " +
// name.
void regSetValueEx(HKEY key, const std::wstring& name, std::uint32_t type, const std::vector<std::uint8_t>& data);
// The names of the key's subkeys, in the registry's order. Throws "WinAPI::regEnumKeyEx failed".
std::vector<std::wstring> regSubkeyNames(HKEY key);
// Removes the value; a value that is not there is no failure. Throws "WinAPI::regDeleteValue failed
// for " + name.
void regDeleteValue(HKEY key, const std::wstring& name);
}  // namespace WinAPI
