# Folder change events (inotify) and the poll helpers of the directory watcher.
target_sources(dravik_platform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/src/inotify.cpp)
