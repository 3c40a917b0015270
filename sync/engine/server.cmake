# Server inventory thread.
target_sources(dravik_sync_engine PRIVATE ${CMAKE_CURRENT_LIST_DIR}/ThreadOfServer.cpp)
target_link_libraries(dravik_sync_engine PUBLIC dravik_sync_net)
