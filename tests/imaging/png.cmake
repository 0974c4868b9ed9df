# Tests of the PNG codec and file functions (tessaly_add_test(test_png ...)).
