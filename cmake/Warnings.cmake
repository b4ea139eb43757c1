# Compiler and linker settings shared by the program, its library and the tests.

set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -O coff")

# Debug information as CodeView, for every target (GoogleTest's too): lld writes it into the PDB.
add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:-gcodeview>)

function(tidewell_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Werror
    -Wshadow -Wnon-virtual-dtor -Wformat=2 -Wcast-qual
    # A platform macro used without win/Platform.h would quietly read as 0.
    -Wundef
    # MinGW's headers cast function pointers returned by GetProcAddress.
    -Wno-cast-function-type
    # The crash report walks the stack; on x86 the walker follows the chain of frame pointers.
    -fno-omit-frame-pointer)
  target_compile_definitions(${target} PRIVATE
    UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN
    _WIN32_WINNT=0x0601 WINVER=0x0601)
endfunction()

# The debug information of a program is its PDB alone. The static runtime libraries bring DWARF
# sections of their own, which lld copies into the program beside the CodeView record: they are
# stripped, and the CodeView record stays.
find_program(TIDEWELL_OBJCOPY NAMES llvm-objcopy llvm-objcopy-14 REQUIRED)
function(tidewell_pdb_only target)
  add_custom_command(TARGET ${target} POST_BUILD
                     COMMAND ${TIDEWELL_OBJCOPY} --strip-debug $<TARGET_FILE:${target}> VERBATIM)
endfunction()

# A Windows program of the system: wide entry point and no MinGW runtime DLL.
function(tidewell_program target)
  target_link_options(${target} PRIVATE -municode -static -static-libgcc -static-libstdc++)
  tidewell_pdb_only(${target})
endfunction()
