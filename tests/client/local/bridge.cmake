# The local layer's folder watches on the real directory change watcher.
dravik_test(client_local_bridge_test LABEL client-local
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/bridge_test.cpp
  LIBS dravik_client_local)
