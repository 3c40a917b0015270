# Byte links between the programs: Unix stream sockets in the runtime folder.
dravik_test(platform_localpipe_test LABEL platform
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/localpipe_test.cpp LIBS dravik_platform)
