# Item facts, permissions and lock tests; starting, waiting for and finding processes.
target_sources(dravik_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/src/filefacts.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/process.cpp)
