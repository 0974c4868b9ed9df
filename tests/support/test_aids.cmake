# Aids that tests, tools and fuzz targets share but the products never ship: the BMP writer
# that makes input files and, with the window, a drag delivered as Qt delivers one.
if(NOT TARGET tessaly_test_aids)
  add_library(tessaly_test_aids STATIC
    ${CMAKE_CURRENT_LIST_DIR}/bmp_writer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/bmp_writer.h)
  target_include_directories(tessaly_test_aids PUBLIC "${CMAKE_CURRENT_LIST_DIR}/..")
  target_link_libraries(tessaly_test_aids PUBLIC tessaly_picture_store tessaly_options)

  if(TESSALY_BUILD_GUI)
    find_package(Qt6 REQUIRED COMPONENTS Widgets)
    add_library(tessaly_test_aids_qt STATIC
      ${CMAKE_CURRENT_LIST_DIR}/qt_drag_simulation.cpp
      ${CMAKE_CURRENT_LIST_DIR}/qt_drag_simulation.h)
    target_include_directories(tessaly_test_aids_qt PUBLIC "${CMAKE_CURRENT_LIST_DIR}/..")
    target_link_libraries(tessaly_test_aids_qt PUBLIC Qt6::Widgets tessaly_options)
  endif()
endif()
