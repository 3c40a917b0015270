# Message loop: posting, sending, timers, modal runs and the host-loop descriptor.
dravik_test(platform_msgloop_test LABEL platform
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/msgloop_test.cpp
  LIBS dravik_msgloop)
