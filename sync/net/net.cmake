# The sync program's server access: the HTTP client on libcurl and the web-API class.
add_library(dravik_sync_net STATIC
  ${CMAKE_CURRENT_LIST_DIR}/HttpHeaders.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WinHttpClient.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WebCloud.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WebCloudListing.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WebCloudTransfer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WebCloudItems.cpp
)
target_include_directories(dravik_sync_net PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(dravik_sync_net
  PUBLIC dravik_sync_common dravik_sync_ui dravik_platform
  PRIVATE PkgConfig::CURL)
