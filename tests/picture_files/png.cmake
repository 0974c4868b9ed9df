# Tests of the PNG codec and file functions (conformance suite, crafted files, saving).
tessaly_add_test(test_png
  SOURCES
    png_codec_test.cpp
    png_conformance_test.cpp
    png_helpers.cpp
    png_helpers.h
    png_io_test.cpp
  LIBS tessaly_picture_files tessaly_test_support PNG::PNG)
