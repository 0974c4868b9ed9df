# Tests of the BMP reader, extended bitmap and grey conversion (tessaly_add_test(test_bmp ...)).
