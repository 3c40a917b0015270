# Threads, checkpoints and local file operations of the sync workers.
dravik_test(sync_common_ThreadBase_test LABEL sync-common
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ThreadBase_test.cpp LIBS dravik_sync_common)
dravik_test(sync_common_SyncBase_test LABEL sync-common
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/SyncBase_test.cpp LIBS dravik_sync_common)
dravik_test(sync_common_LocalFileSystem_test LABEL sync-common
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/LocalFileSystem_test.cpp LIBS dravik_sync_common)
