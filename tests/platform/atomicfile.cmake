# Whole-file reads, replacing writes and setting files aside.
dravik_test(platform_atomicfile_test LABEL platform
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/atomicfile_test.cpp LIBS dravik_platform)
