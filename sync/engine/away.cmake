# Commit-to-server thread, the commit run frame it shares with the commit-to-local thread,
# and the server calls on the web-API object.
target_sources(dravik_sync_engine PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/CommitThread.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CommitRows.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ThreadOfAway.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WebCloudOps.cpp)
target_link_libraries(dravik_sync_engine PUBLIC dravik_sync_net dravik_sync_ui)
