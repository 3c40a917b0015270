# Network monitor.
target_sources(dravik_sync_engine PRIVATE ${CMAKE_CURRENT_LIST_DIR}/ThreadOfAdapter.cpp)
