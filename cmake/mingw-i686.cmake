# Cross toolchain for 32-bit Windows (PE32, i386) with MinGW-w64.
set(CMAKE_SYSTEM_PROCESSOR X86)
set(VORTA_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# SSE2 floats round to 32 bits as on x86-64; x87 excess precision would draw a different tunnel.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
