add_gtest(records_test SOURCES records_test.cpp LIBS records platform LABELS unit)
add_gtest(records_alloc_test SOURCES records_alloc_test.cpp LIBS records LABELS unit)
