dravik_test(platform_namedlock_test LABEL platform
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/namedlock_test.cpp LIBS dravik_platform)
