# The sync program's support parts: state files, local path lookup, login hand-over and
# folder choice, program-wide values and profile, the sync side of the pipe link.
set(_app_support_tests UserRoutine LocalPathToTreePath Login SyncGlobals SyncPipeLink)
foreach(_unit IN LISTS _app_support_tests)
  dravik_test(sync_app_${_unit}_test LABEL sync-app
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/${_unit}_test.cpp LIBS dravik_sync_app_support)
endforeach()
