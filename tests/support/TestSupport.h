#pragma once

// Everything the tests share: temporary files and folders, programs started as second processes,
// logs read back, and registry keys of a test.
#include "support/LogReading.h"
#include "support/Processes.h"
#include "support/TempFiles.h"
#include "support/TestRegistry.h"
