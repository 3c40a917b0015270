# The client's HTTP client on libcurl and its web calls with their JSON readers.
target_sources(dravik_client_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/HttpClient.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WebApi.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WebApiJson.cpp
)
