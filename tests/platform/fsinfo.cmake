# Mount roots and network file systems; descriptors and system error texts.
foreach(_unit fsinfo handles)
  dravik_test(platform_${_unit}_test LABEL platform
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/${_unit}_test.cpp
    LIBS dravik_platform)
endforeach()
