# Compiler and linker settings shared by the program, its library and the tests.

set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -O coff")

function(tidewell_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Werror
    -Wshadow -Wnon-virtual-dtor -Wformat=2 -Wcast-qual
    # MinGW's headers cast function pointers returned by GetProcAddress.
    -Wno-cast-function-type
    -gdwarf-4
    # The crash report walks the stack; on x86 the walker follows the chain of frame pointers.
    -fno-omit-frame-pointer)
  target_compile_definitions(${target} PRIVATE
    UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN
    _WIN32_WINNT=0x0601 WINVER=0x0601)
endfunction()

# A Windows program of the system: wide entry point and no MinGW runtime DLL.
function(tidewell_program target)
  target_link_options(${target} PRIVATE -municode -static -static-libgcc -static-libstdc++)
endfunction()
