#pragma once

#include "fs/FilePath.h"

#include <cstdint>
#include <functional>
#include <string>

// Creates a new entry <folder>\<stem>.<id><suffix> and returns its path. When that name is taken
// (by a leftover of an earlier process with the same id, or by anything else) the next names are
// <stem>.<id>.<16 hex digits><suffix>, the digits from the system's cryptographic random source:
// no one can plant them in advance, so an existing entry is never touched and never stops a run.
// create makes the entry and throws CTavException; ERROR_FILE_EXISTS and ERROR_ALREADY_EXISTS
// mean the name is taken, any other failure leaves at once.
CFilePath createUnique(const CFilePath& folder, const std::wstring& stem, std::uint32_t id, const std::wstring& suffix,
                       const std::function<void(const CFilePath&)>& create);

// The same for names only: returns the first of <stem><suffix> and then <stem>.<16 random hex
// digits><suffix> that take accepts (take returns false for a name that is taken and throws
// CTavException for any other failure). Throws ERROR_FILE_EXISTS when all names tried are taken.
std::wstring takeUniqueName(const std::wstring& stem, const std::wstring& suffix,
                            const std::function<bool(const std::wstring&)>& take);

// True when name is one that createUnique gives for stem and id (without suffix).
bool isUniqueName(const std::wstring& name, const std::wstring& stem, std::uint32_t id);
