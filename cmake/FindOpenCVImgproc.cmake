# Finds OpenCV's core and imgproc modules without the full OpenCV package
# (Debian ships OpenCVConfig.cmake only with the all-modules libopencv-dev).
# Defines the imported targets opencv_core and opencv_imgproc.
find_path(OpenCVImgproc_INCLUDE_DIR opencv2/imgproc.hpp PATH_SUFFIXES opencv4)
find_library(OpenCVImgproc_CORE_LIBRARY opencv_core)
find_library(OpenCVImgproc_IMGPROC_LIBRARY opencv_imgproc)

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(OpenCVImgproc
  REQUIRED_VARS OpenCVImgproc_INCLUDE_DIR OpenCVImgproc_CORE_LIBRARY OpenCVImgproc_IMGPROC_LIBRARY)

if(OpenCVImgproc_FOUND AND NOT TARGET opencv_imgproc)
  add_library(opencv_core UNKNOWN IMPORTED)
  set_target_properties(opencv_core PROPERTIES
    IMPORTED_LOCATION "${OpenCVImgproc_CORE_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${OpenCVImgproc_INCLUDE_DIR}")
  add_library(opencv_imgproc UNKNOWN IMPORTED)
  set_target_properties(opencv_imgproc PROPERTIES
    IMPORTED_LOCATION "${OpenCVImgproc_IMGPROC_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${OpenCVImgproc_INCLUDE_DIR}"
    INTERFACE_LINK_LIBRARIES opencv_core)
endif()
mark_as_advanced(OpenCVImgproc_INCLUDE_DIR OpenCVImgproc_CORE_LIBRARY OpenCVImgproc_IMGPROC_LIBRARY)
