# BMP reader and extended bitmap (repairing loader, bitmap services).
target_sources(tessaly_picture_files PRIVATE
  bmp_reader.cpp
  bmp_reader.h
  byte_stream.h
  ext_bitmap.cpp
  ext_bitmap.h
)
