# Item facts, permissions and lock tests; starting, waiting for and finding processes.
foreach(_unit filefacts process)
  dravik_test(platform_${_unit}_test LABEL platform
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/${_unit}_test.cpp
    LIBS dravik_platform)
endforeach()
