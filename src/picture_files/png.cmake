# PNG codec (TPngImage on libpng) and the PNG file functions.
target_sources(tessaly_picture_files PRIVATE
  png_chunks.cpp
  png_chunks.h
  png_codec.cpp
  png_filter.cpp
  png_filter.h
  png_image.cpp
  png_image.h
  png_io.cpp
  png_io.h
)
target_link_libraries(tessaly_picture_files PRIVATE PNG::PNG ZLIB::ZLIB)
# The row filter sums are plain loops written for the vectoriser, which needs -O3 to take them
# on (at -O2 they run four to five times slower).
set_source_files_properties(png_filter.cpp PROPERTIES COMPILE_OPTIONS "-O3")
