# Lost workers and lost masters: the job queue and the group exchanges with
# members that end or are killed, the master run end to end with a worker
# lost, a poisonous individual, killed workers and a killed master.
set(loss_programs master torvo worktest_worker worktest_master worktest_torvo_lossy)

add_gtest(loss_queue_test SOURCES loss_queue_test.cpp
  LIBS communicate records LABELS loss pvm DEPENDS ${loss_programs} TIMEOUT 120)

add_gtest(loss_master_test SOURCES loss_master_test.cpp
  LIBS communicate records LABELS loss pvm DEPENDS ${loss_programs} TIMEOUT 120)
