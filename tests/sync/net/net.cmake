# Tests of the sync program's server access: the header scanner, the HTTP client (against a
# scripted socket responder) and the web-API class (against the in-process test server).
add_library(sync_net_test_support STATIC ${CMAKE_CURRENT_LIST_DIR}/ScriptedResponder.cpp)
target_include_directories(sync_net_test_support PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(sync_net_test_support PUBLIC Threads::Threads)

dravik_test(sync_net_HttpHeaders_test LABEL sync-net
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/HttpHeaders_test.cpp
  LIBS dravik_sync_net)
dravik_test(sync_net_WinHttpClient_test LABEL sync-net
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/WinHttpClient_test.cpp
  LIBS dravik_sync_net sync_net_test_support)
dravik_test(sync_net_WebCloud_test LABEL sync-net
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/WebCloudLogin_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WebCloudListing_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WebCloudTransfer_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WebCloudItems_test.cpp
  LIBS dravik_sync_net sync_net_test_support dravik_testserver_lib)
