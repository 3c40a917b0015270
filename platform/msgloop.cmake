# Message loop: windows, posted and sent messages, timers and modal runs for the engine
# and the programs; the GUI drives it from Qt's event loop. Standard library only.
# Include it as "platform/msgloop/MessageLoop.h".
add_library(dravik_msgloop STATIC
  ${CMAKE_CURRENT_LIST_DIR}/msgloop/MessageLoop.cpp
)
target_include_directories(dravik_msgloop PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(dravik_msgloop PUBLIC Threads::Threads)
