# Threads, checkpoints and local file operations of the sync workers.
target_sources(dravik_sync_common PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ThreadBase.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SyncBase.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LocalFileSystem.cpp
)
