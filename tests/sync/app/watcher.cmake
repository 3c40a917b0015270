# Directory change watcher on real folders.
dravik_test(sync_app_DirectoryChanges_test LABEL sync-app
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/DirectoryChanges_test.cpp LIBS dravik_dirwatch)
