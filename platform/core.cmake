# Core of the platform layer: text, waits, paths, files, windowed file I/O, digests,
# time, MIME types, logging, string table and per-user folders. No Qt here.
add_library(dravik_platform STATIC
  ${CMAKE_CURRENT_LIST_DIR}/src/text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/waitable.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/longpath.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/md5.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/logging.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/clock.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/fileops.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/mmfio.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/timetext.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/mime.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/strings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/src/userdirs.cpp
)
target_include_directories(dravik_platform PUBLIC ${CMAKE_CURRENT_LIST_DIR}/include)
target_link_libraries(dravik_platform
  PUBLIC Threads::Threads PkgConfig::LOG4CPP PkgConfig::CRYPTOPP)
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/src/md5.cpp
  PROPERTIES COMPILE_DEFINITIONS CRYPTOPP_ENABLE_NAMESPACE_WEAK=1)
