# Shared-memory value table, across processes.
dravik_test(sync_app_SharedMemory_test LABEL sync-app
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/SharedMemory_test.cpp LIBS dravik_shm)
