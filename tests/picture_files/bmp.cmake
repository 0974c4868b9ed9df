# Tests of the BMP reader, extended bitmap and grey conversion (tessaly_add_test(test_bmp ...)).
tessaly_add_test(test_bmp
  SOURCES
    bmp_conformance_test.cpp
    bmp_ext_bitmap_test.cpp
    bmp_grey_test.cpp
    bmp_reader_test.cpp
  LIBS tessaly_picture_files tessaly_test_support tessaly_test_aids)
