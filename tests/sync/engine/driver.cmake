# Local scan thread and file digests.
dravik_test(sync_engine_ThreadOfDriver_test LABEL sync-engine
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ThreadOfDriver_test.cpp LIBS dravik_sync_engine)
dravik_test(sync_engine_FileDigest_test LABEL sync-engine
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/FileDigest_test.cpp LIBS dravik_sync_engine)
