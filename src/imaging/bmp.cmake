# BMP reader, extended bitmap and grey conversion sources: target_sources(tessaly_imaging PRIVATE ...)
target_sources(tessaly_imaging PRIVATE
  bmp_reader.cpp
  bmp_reader.h
  bmp_writer.cpp
  bmp_writer.h
  byte_stream.h
  ext_bitmap.cpp
  ext_bitmap.h
  grey.cpp
  grey.h
)
