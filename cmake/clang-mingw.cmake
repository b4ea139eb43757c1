# clang and lld for the mingw-w64 target TOOL_PREFIX, against the GCC runtime of Debian's mingw-w64
# packages (libstdc++, libgcc, winpthread), with CodeView debug information: each program gets a
# PDB beside it, named in its CodeView record by file name only (no build-machine path), so the
# debugging-help library finds it through the symbol path, which starts at the program's folder.
# Included by the toolchain files after they set TOOL_PREFIX.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${TOOL_PREFIX})
set(CMAKE_CXX_COMPILER_TARGET ${TOOL_PREFIX})
set(CMAKE_RC_COMPILER ${TOOL_PREFIX}-windres)
set(CMAKE_SYSROOT /usr/${TOOL_PREFIX})
set(CMAKE_FIND_ROOT_PATH /usr/${TOOL_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Packages of the target only: the build machine's own (its GoogleTest, say) cannot be linked.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# GCC's posix-thread runtime of the mingw-w64 packages, for example /usr/lib/gcc/<target>/12-posix.
file(GLOB gcc_dirs LIST_DIRECTORIES true /usr/lib/gcc/${TOOL_PREFIX}/*-posix)
list(GET gcc_dirs -1 gcc_dir)
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES
    ${gcc_dir}/include/c++ ${gcc_dir}/include/c++/${TOOL_PREFIX} ${gcc_dir}/include/c++/backward)
# -B: GCC's own crtbegin.o and crtend.o, which register the unwind tables that C++ exceptions need
# on i686 (the mingw-w64 stubs of the same name do not, and every throw would abort).
set(link_flags "-fuse-ld=lld -B${gcc_dir} -L${gcc_dir} -Wl,--pdb= -Wl,--Xlink=-pdbaltpath:%_PDB%")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${link_flags}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${link_flags}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${link_flags}")
set(CMAKE_C_STANDARD_LIBRARIES "-Wl,--start-group -lpthread -lgcc -lgcc_eh -Wl,--end-group")
set(CMAKE_CXX_STANDARD_LIBRARIES "-Wl,--start-group -lstdc++ -lpthread -lgcc -lgcc_eh -Wl,--end-group")
