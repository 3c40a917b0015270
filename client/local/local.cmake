# The local file layer of the client: file-system and file I/O interfaces, their adapter
# on this machine, application associations and the checked download into a local file.
target_sources(dravik_client_local PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/WinFileSystem.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WinFileIO.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WinFileSystemAdapter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XdgAssociations.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LocalDownload.cpp
)
# The layer logs through the client's log and builds on its records and HTTP client.
target_link_libraries(dravik_client_local PUBLIC dravik_client_core)

# The folder watches of the local layer on the program's directory change watcher.
target_sources(dravik_client_local PRIVATE ${CMAKE_CURRENT_LIST_DIR}/WatcherBridge.cpp)
target_link_libraries(dravik_client_local PUBLIC dravik_dirwatch)
