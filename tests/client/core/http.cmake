# Tests of the client's HTTP client and web calls, one executable per unit.
dravik_test(client_core_webapi_json_test LABEL client-core
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/webapi_json_test.cpp
  LIBS dravik_client_core)
dravik_test(client_core_http_client_test LABEL client-core
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/http_client_test.cpp
  LIBS dravik_client_local dravik_testserver_lib)
