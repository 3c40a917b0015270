# The sync program's support parts that need no running workers: state files, the login
# hand-over, the folder choice, the program-wide values and profile, and the sync side
# of the pipe link. Include its headers as "sync/app/...".
add_library(dravik_sync_app_support STATIC
  ${CMAKE_CURRENT_LIST_DIR}/UserRoutine.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LocalPathToTreePath.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SetCloudPath.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Login.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SyncGlobals.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SyncPipeLink.cpp
)
target_include_directories(dravik_sync_app_support PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(dravik_sync_app_support PUBLIC
  dravik_xml dravik_msgloop dravik_sync_engine dravik_sync_ui dravik_sync_common dravik_platform)
