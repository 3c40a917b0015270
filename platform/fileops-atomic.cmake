# Whole-file reads, replacing writes and setting files aside (state and configuration
# files of both programs).
target_sources(dravik_platform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/src/atomicfile.cpp)
