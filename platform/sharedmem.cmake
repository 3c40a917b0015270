# Per-user shared memory objects and the lock across processes (the value table).
target_sources(dravik_platform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/src/sharedmem.cpp)
