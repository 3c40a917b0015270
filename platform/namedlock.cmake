# Names claimed across processes (single instance): a lock file in the runtime folder.
target_sources(dravik_platform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/src/namedlock.cpp)
