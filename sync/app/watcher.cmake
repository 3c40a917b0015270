# Directory change watcher on inotify; shared by the sync and the client program.
add_library(dravik_dirwatch STATIC ${CMAKE_CURRENT_LIST_DIR}/DirectoryChanges.cpp)
target_include_directories(dravik_dirwatch PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(dravik_dirwatch PUBLIC dravik_platform Threads::Threads)
