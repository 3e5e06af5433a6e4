# The communicate library: the registry, host placement and every refusal
# without a PVM daemon; packing, addressing, spawning and task-id
# distribution against a private virtual machine with the scripted worker
# commtest_worker.
add_gtest(communicate_unit_test SOURCES communicate_unit_test.cpp
          LIBS communicate records platform LABELS communicate TIMEOUT 60)
add_gtest(communicate_pvm_test SOURCES communicate_pvm_test.cpp
          LIBS communicate records platform LABELS communicate pvm
          DEPENDS commtest_worker TIMEOUT 90)

