# The master's front end: input reader, population assembly, and the master
# program run in a private virtual machine.
add_gtest(driver_test SOURCES driver_test.cpp LIBS driver_core LABELS driver DEPENDS master
          TIMEOUT 300)
target_compile_definitions(driver_test PRIVATE
                           DRIVER_EXAMPLES_DIR="${PROJECT_SOURCE_DIR}/examples")
