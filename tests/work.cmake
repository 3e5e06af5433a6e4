# Work distribution and worker start-up: the job queue, the group exchanges,
# the worker-side exchange, the task output file and the whole master run.
set(work_programs master torvo worktest_worker worktest_master worktest_startup worktest_torvo_alt)

add_gtest(work_startup_test SOURCES work_startup_test.cpp
  LIBS communicate platform records LABELS work DEPENDS worktest_startup TIMEOUT 60)

add_gtest(work_queue_test SOURCES work_queue_test.cpp
  LIBS communicate records LABELS work pvm DEPENDS ${work_programs} TIMEOUT 120)

add_gtest(work_group_test SOURCES work_group_test.cpp
  LIBS communicate records LABELS work pvm DEPENDS ${work_programs} TIMEOUT 60)

add_gtest(work_myinit_test SOURCES work_myinit_test.cpp
  LIBS communicate platform records LABELS work pvm DEPENDS worktest_startup TIMEOUT 60)

add_gtest(work_master_test SOURCES work_master_test.cpp
  LIBS communicate platform records LABELS work pvm DEPENDS ${work_programs} TIMEOUT 90)
