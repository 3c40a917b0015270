# Network reachability probe.
dravik_test(platform_netprobe_test LABEL platform
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/netprobe_test.cpp LIBS dravik_platform)
