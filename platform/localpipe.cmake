# The byte links between the two programs: Unix stream sockets in the runtime folder.
target_sources(dravik_platform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/src/localpipe.cpp)
