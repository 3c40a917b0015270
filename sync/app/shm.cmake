# Shared-memory value table of the sync program.
add_library(dravik_shm STATIC ${CMAKE_CURRENT_LIST_DIR}/SharedMemory.cpp)
target_include_directories(dravik_shm PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(dravik_shm PUBLIC dravik_platform)
