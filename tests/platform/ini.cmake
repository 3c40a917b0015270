# INI reader and writer (profile and language tables).
dravik_test(platform_ini_test LABEL platform
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ini_test.cpp LIBS dravik_platform)
