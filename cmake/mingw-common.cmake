# Shared part of the MinGW-w64 cross toolchains: the posix compilers (std::thread), Windows as the
# target system, the cross-built libraries, and executables linked statically (no runtime DLLs).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${VORTA_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VORTA_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VORTA_MINGW_TRIPLET}-windres)
set(CMAKE_ASM_COMPILER ${VORTA_MINGW_TRIPLET}-gcc-posix)

# libopenmpt for this target, built by cmake/libopenmpt-mingw.sh.
set(VORTA_DEPS_DIR ${CMAKE_CURRENT_LIST_DIR}/../build-deps/${VORTA_MINGW_TRIPLET}
    CACHE PATH "Prefix of the cross-built libraries for this target")

set(CMAKE_FIND_ROOT_PATH /usr/${VORTA_MINGW_TRIPLET} ${VORTA_DEPS_DIR})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libgcc, libstdc++ and winpthread linked in: the executables import only system DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
