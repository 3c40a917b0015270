# Tests of the platform core, one executable per unit.
foreach(_unit text waitable longpath fileops mmfio md5 timetext mime logging strings userdirs)
  dravik_test(platform_${_unit}_test LABEL platform
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/${_unit}_test.cpp
    LIBS dravik_platform)
endforeach()
