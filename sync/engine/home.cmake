# Commit-to-local thread (its run frame is in away.cmake).
target_sources(dravik_sync_engine PRIVATE ${CMAKE_CURRENT_LIST_DIR}/ThreadOfHome.cpp)
