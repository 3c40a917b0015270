# Tests of the client's local file layer, one executable per unit.
foreach(_unit filesystem fileio watch_open associations)
  dravik_test(client_local_${_unit}_test LABEL client-local
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/${_unit}_test.cpp
    LIBS dravik_client_local)
endforeach()
dravik_test(client_local_download_test LABEL client-local
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/download_test.cpp
  LIBS dravik_client_local dravik_testserver_lib)
