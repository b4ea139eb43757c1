# The release package ("cmake --build --preset x86 --target package", in build/x86/packages):
#   Tidewell-<version>-<arch>.zip          the program, the information library, the NSIS include,
#                                          a usage text and an example settings file
#   Tidewell-<version>-<arch>-symbols.zip  the PDBs of both
# <version> is the project's version, the one the version resources carry; <arch> is x86 for the
# product (x64 for the build of the same sources).
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86")
  set(TIDEWELL_ARCH x86)
else()
  set(TIDEWELL_ARCH x64)
endif()
set(TIDEWELL_PACKAGE Tidewell-${PROJECT_VERSION}-${TIDEWELL_ARCH})
configure_file(${CMAKE_SOURCE_DIR}/packaging/README.txt.in ${CMAKE_BINARY_DIR}/packaging/README.txt @ONLY)

install(FILES $<TARGET_FILE:Tidewell> $<TARGET_FILE:tidewell_sysinfo>
              ${CMAKE_SOURCE_DIR}/integrations/nsis/Tidewell.nsh ${CMAKE_BINARY_DIR}/packaging/README.txt
              ${CMAKE_SOURCE_DIR}/packaging/MxQorSetup.cfg.example
        DESTINATION . COMPONENT program)
# lld writes each PDB beside its module, under the module's name.
install(FILES $<TARGET_FILE_DIR:Tidewell>/Tidewell.pdb $<TARGET_FILE_DIR:tidewell_sysinfo>/MxQorTavUt.pdb
        DESTINATION . COMPONENT symbols)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Tidewell)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL program symbols)
set(CPACK_ARCHIVE_PROGRAM_FILE_NAME ${TIDEWELL_PACKAGE})
set(CPACK_ARCHIVE_SYMBOLS_FILE_NAME ${TIDEWELL_PACKAGE}-symbols)
include(CPack)
