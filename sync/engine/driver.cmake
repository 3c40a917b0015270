# Local scan thread and file digests.
target_sources(dravik_sync_engine PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ThreadOfDriver.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FileDigest.cpp)
