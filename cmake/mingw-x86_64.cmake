# The same sources for x86-64 (clang and lld, mingw-w64 runtime with posix threads), run under
# wine64.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(TOOL_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/clang-mingw.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
