# The pieces the fuzz targets and their plain replay programs share: the processing target's
# input format and the seed maker. Included by fuzz/ and by tests/hardening/.
if(NOT TARGET tessaly_fuzz_input)
  add_library(tessaly_fuzz_input STATIC
    ${CMAKE_CURRENT_LIST_DIR}/process_input.cpp
    ${CMAKE_CURRENT_LIST_DIR}/process_input.h)
  target_include_directories(tessaly_fuzz_input PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(tessaly_fuzz_input PUBLIC tessaly_framegen tessaly_picture_files tessaly_test_aids tessaly_options)

  add_executable(tessaly-fuzz-seeds ${CMAKE_CURRENT_LIST_DIR}/make_seeds.cpp)
  target_link_libraries(tessaly-fuzz-seeds PRIVATE tessaly_fuzz_input)
endif()

# The fuzz targets: name, source file and the libraries each needs.
set(TESSALY_FUZZ_TARGETS bmp png header_name process)
set(TESSALY_FUZZ_SOURCE_bmp ${CMAKE_CURRENT_LIST_DIR}/fuzz_bmp.cpp)
set(TESSALY_FUZZ_LIBS_bmp tessaly_picture_files)
set(TESSALY_FUZZ_SOURCE_png ${CMAKE_CURRENT_LIST_DIR}/fuzz_png.cpp)
set(TESSALY_FUZZ_LIBS_png tessaly_picture_files)
set(TESSALY_FUZZ_SOURCE_header_name ${CMAKE_CURRENT_LIST_DIR}/fuzz_header_name.cpp)
set(TESSALY_FUZZ_LIBS_header_name tessaly_naming)
set(TESSALY_FUZZ_SOURCE_process ${CMAKE_CURRENT_LIST_DIR}/fuzz_process.cpp)
set(TESSALY_FUZZ_LIBS_process tessaly_app tessaly_fuzz_input)
