# The communicate library: the registry, host placement and every refusal
# without a PVM daemon; packing, addressing, spawning and task-id
# distribution against a private virtual machine with the scripted worker
# commtest_worker.
add_gtest(communicate_unit_test SOURCES communicate_unit_test.cpp
          LIBS communicate records platform LABELS communicate TIMEOUT 60)
add_gtest(communicate_pvm_test SOURCES communicate_pvm_test.cpp
          LIBS communicate records platform LABELS communicate
          DEPENDS commtest_worker TIMEOUT 90)

# gtest_discover_tests hands its properties over on a command line, which
# splits a list of labels; the discovered tests get both labels afterwards.
set(communicate_pvm_labels ${CMAKE_CURRENT_BINARY_DIR}/communicate_pvm_test_labels.cmake)
file(WRITE ${communicate_pvm_labels}
     "foreach(test IN LISTS communicate_pvm_test_TESTS)\n"
     "  set_tests_properties(\"\${test}\" PROPERTIES LABELS \"communicate;pvm\")\n"
     "endforeach()\n")
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${communicate_pvm_labels})
