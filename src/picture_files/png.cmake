# PNG codec (TPngImage on libpng) and the PNG file functions.
target_sources(tessaly_picture_files PRIVATE
  png_codec.cpp
  png_image.cpp
  png_image.h
  png_io.cpp
  png_io.h
)
target_link_libraries(tessaly_picture_files PRIVATE PNG::PNG)
