# The sync program Orvane: its application object, main window and cycle driver, and the
# program itself (built into bin/ beside the other programs).
add_library(dravik_sync_app STATIC
  ${CMAKE_CURRENT_LIST_DIR}/OrvaneApp.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OrvaneDlg.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OrvaneDlgCycle.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OrvaneDlgLink.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OrvaneDlgLocal.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PhaseDriver.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LocalChangeFilter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SyncShell.cpp
)
target_include_directories(dravik_sync_app PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(dravik_sync_app PUBLIC
  dravik_sync_app_support dravik_sync_engine dravik_sync_net dravik_sync_ui
  dravik_dirwatch dravik_shm dravik_xml dravik_msgloop dravik_sync_common dravik_platform
  PkgConfig::LOG4CPP Threads::Threads)

add_executable(Orvane ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(Orvane PRIVATE dravik_sync_app)

# The client program's side of the two pipes, for the local demo (scripts/run-local): it
# listens on both, starts the sync program, hands it the language and the login and passes
# commands on.
add_executable(dravik-pipe-client ${CMAKE_CURRENT_LIST_DIR}/tools/pipe_client.cpp)
target_link_libraries(dravik-pipe-client PRIVATE dravik_platform Threads::Threads)
