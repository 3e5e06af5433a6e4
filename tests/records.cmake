add_gtest(records_test SOURCES records_test.cpp LIBS records platform LABELS unit)
