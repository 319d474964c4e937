# The browser build (em++): the portable show with the web display and sound backends, the
# asset block of a native build, libopenmpt built for wasm, and the portable suites run by Node.
set(VORTA_WEB_DEPS "" CACHE PATH "Where web/build_openmpt.sh put openmpt/ (include/, lib/)")
set(VORTA_NATIVE_GEN "" CACHE PATH "The generated assets of a native build (assets/gen)")
if(NOT EXISTS "${VORTA_WEB_DEPS}/openmpt/lib/libopenmpt.a" OR NOT EXISTS "${VORTA_NATIVE_GEN}/vorta.blk")
  message(FATAL_ERROR "The web build needs VORTA_WEB_DEPS (built libopenmpt) and VORTA_NATIVE_GEN "
                      "(a native build's assets/gen): ./make.sh web sets both")
endif()

# The vector paths compile to wasm SIMD and give the same pictures as on x86.
add_compile_options(-msimd128 -msse2)
# libopenmpt rejects a bad module by throwing and catching inside itself: the link must provide
# exception catching (else any throw aborts the page). Our own code is compiled without it, as it
# throws nothing, so the per-frame path carries none of its cost.
add_link_options(-sDISABLE_EXCEPTION_CATCHING=0)

add_subdirectory(tunnel)
add_subdirectory(effects)

add_library(vorta_convert STATIC display/convert.cpp)
target_include_directories(vorta_convert PUBLIC ${PROJECT_SOURCE_DIR})
add_library(vorta_display STATIC display/fb_web.cpp)
target_include_directories(vorta_display PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(vorta_display PUBLIC vorta_convert)

add_library(openmpt STATIC IMPORTED)
set_target_properties(openmpt PROPERTIES
  IMPORTED_LOCATION ${VORTA_WEB_DEPS}/openmpt/lib/libopenmpt.a
  INTERFACE_INCLUDE_DIRECTORIES ${VORTA_WEB_DEPS}/openmpt/include)
add_library(vorta_sound STATIC sound/audible.cpp sound/bassmod.cpp sound/decoder.cpp
                               sound/output_web.cpp sound/row_ring.cpp)
target_include_directories(vorta_sound PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(vorta_sound PRIVATE openmpt)

# The native build's block, linked in the wasm assembler's form.
function(vorta_web_block name block)
  set(VORTA_BLOCK ${block})
  configure_file(assets/block_wasm.S.in ${CMAKE_CURRENT_BINARY_DIR}/${name}.S @ONLY)
  set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/${name}.S PROPERTIES OBJECT_DEPENDS ${block})
  add_library(${name} STATIC ${CMAKE_CURRENT_BINARY_DIR}/${name}.S assets/assets.cpp)
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()
vorta_web_block(vorta_assets ${VORTA_NATIVE_GEN}/vorta.blk)
vorta_web_block(vorta_assets_bad_module ${VORTA_NATIVE_GEN}/vorta_bad_module.blk)
set(VORTA_GEN_DIR ${VORTA_NATIVE_GEN})

# The program: main() runs on the page's click; fb_update yields to the browser every frame.
add_subdirectory(driver)
foreach(program vorta vorta-bad-module)
  target_link_options(${program} PRIVATE -sASYNCIFY -sENVIRONMENT=web -sINVOKE_RUN=0
    -sEXPORTED_RUNTIME_METHODS=callMain -sINITIAL_MEMORY=33554432 -sALLOW_MEMORY_GROWTH=1)
endforeach()
set(web_out ${PROJECT_BINARY_DIR}/page)
add_custom_target(page ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${web_out}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:vorta> $<TARGET_FILE_DIR:vorta>/vorta.wasm
          ${PROJECT_SOURCE_DIR}/web/index.html ${web_out}
  DEPENDS vorta ${PROJECT_SOURCE_DIR}/web/index.html
  COMMENT "Putting the page together in ${web_out}")

# The portable suites under Node (CMAKE_CROSSCOMPILING_EMULATOR), reading files directly.
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest/googletest ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
enable_testing()
include(GoogleTest)
add_subdirectory(tests/web)
