add_gtest(platform_test SOURCES platform_test.cpp LIBS platform LABELS unit)
