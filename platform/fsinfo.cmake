# Mount roots and network file systems; descriptors and system error texts.
target_sources(dravik_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/src/fsinfo.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/handles.cpp)
