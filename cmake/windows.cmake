# The Windows side of the build, included by the top CMakeLists in a MinGW-w64 cross build.
# Only the program and its portable tests are cross-compiled: the content (module, textures, masks,
# end picture) is made by a native build's generators, so both platforms embed the same block.

set(VORTA_HOST_BUILD ${PROJECT_SOURCE_DIR}/build CACHE PATH
    "Native build whose generators made the data block (assets/gen/vorta.blk)")
set(VORTA_HOST_GEN_DIR ${VORTA_HOST_BUILD}/assets/gen)
if(NOT EXISTS ${VORTA_HOST_GEN_DIR}/vorta.blk)
  message(FATAL_ERROR "No ${VORTA_HOST_GEN_DIR}/vorta.blk: build the native configuration first "
                      "(./make.sh build), or name it with -DVORTA_HOST_BUILD=DIR")
endif()

# libopenmpt, cross-built as a static library by cmake/libopenmpt-mingw.sh. The target keeps the
# name the native pkg-config lookup gives, so the sound layer links it the same way.
set(VORTA_OPENMPT_LIB ${VORTA_DEPS_DIR}/lib/libopenmpt.a)
if(NOT EXISTS ${VORTA_OPENMPT_LIB})
  message(FATAL_ERROR "No libopenmpt.a in ${VORTA_DEPS_DIR}/lib: run ./make.sh windows")
endif()
add_library(PkgConfig::OPENMPT STATIC IMPORTED)
set_target_properties(PkgConfig::OPENMPT PROPERTIES
  IMPORTED_LOCATION ${VORTA_OPENMPT_LIB}
  INTERFACE_INCLUDE_DIRECTORIES ${VORTA_DEPS_DIR}/include)

# GoogleTest from Debian's source package, built with the cross compiler (before the project's
# warning flags, which are not its business).
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# Windows test programs run under Wine through CTest. The wrapper finds the prefix and the
# loader; a 32-bit program on a machine that cannot run 32-bit code exits 77 (skipped).
set(VORTA_WINE_RUN ${PROJECT_SOURCE_DIR}/tests/wine/run)
set(VORTA_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(CMAKE_CROSSCOMPILING_EMULATOR ${VORTA_WINE_RUN} ${VORTA_WINEPREFIX})
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(VORTA_WIN_BITS 32)
else()
  set(VORTA_WIN_BITS 64)
endif()
