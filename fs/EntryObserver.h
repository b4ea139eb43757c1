#pragma once

#include "fs/FilePath.h"

#include <functional>

// Called with the path of every entry after its folder was read and before the entry is opened.
using EntryObserver = std::function<void(const CFilePath& entry)>;
