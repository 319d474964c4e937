# Cross toolchain for 64-bit Windows (PE32+, x86-64) with MinGW-w64.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(VORTA_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
