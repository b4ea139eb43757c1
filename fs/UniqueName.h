#pragma once

#include "fs/FilePath.h"

#include <cstdint>
#include <functional>
#include <string>

// Creates a new entry <folder>\<stem>.<id><suffix> and returns its path. When that name is taken
// (by a leftover of an earlier process with the same id, or by anything else) the next one is
// <stem>.<id>.2<suffix>, then .3 and so on, 100 names in all: an existing entry is never touched
// and never stops a run. create makes the entry and throws CTavException; ERROR_FILE_EXISTS and
// ERROR_ALREADY_EXISTS mean the name is taken, any other failure leaves at once.
CFilePath createUnique(const CFilePath& folder, const std::wstring& stem, std::uint32_t id, const std::wstring& suffix,
                       const std::function<void(const CFilePath&)>& create);
