# The sync program Orvane: the cycle driver's decisions, the local change filters, and
# the program end to end against the test server with a fake client on its pipes.
dravik_test(sync_app_PhaseDriver_test LABEL sync-app
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/PhaseDriver_test.cpp LIBS dravik_sync_app)
dravik_test(sync_app_LocalChangeFilter_test LABEL sync-app
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/LocalChangeFilter_test.cpp LIBS dravik_sync_app)
dravik_test(sync_app_Orvane_test LABEL sync-app
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/Orvane_test.cpp ${CMAKE_CURRENT_LIST_DIR}/OrvaneWorld.cpp
  LIBS dravik_sync_app dravik_testserver_lib)
# The program as a process (built into bin/ first).
dravik_test(sync_app_OrvaneProgram_test LABEL sync-app
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/OrvaneProgram_test.cpp
  LIBS dravik_platform dravik_testserver_lib)
add_dependencies(sync_app_OrvaneProgram_test Orvane)
