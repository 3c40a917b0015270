# Commit threads (to the server, to the local disk), the network monitor, and both commit
# threads against the test server through the web-API object.
dravik_test(sync_engine_ThreadOfAway_test LABEL sync-engine
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ThreadOfAway_test.cpp LIBS dravik_sync_engine)
dravik_test(sync_engine_ThreadOfHome_test LABEL sync-engine
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ThreadOfHome_test.cpp LIBS dravik_sync_engine)
dravik_test(sync_engine_ThreadOfAdapter_test LABEL sync-engine
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ThreadOfAdapter_test.cpp LIBS dravik_sync_engine)
dravik_test(sync_engine_WebCloudOps_test LABEL sync-engine
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/WebCloudOps_test.cpp LIBS dravik_sync_engine dravik_testserver_lib)
